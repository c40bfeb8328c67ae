// The program's version text: the project's version, defined by the build.
#pragma once

inline constexpr char kMergeVersion[] = ORVEL_K2_VERSION;
