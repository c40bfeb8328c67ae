// The program's version text: the project's version, defined by the build.
#pragma once

inline constexpr char kLogVersion[] = ORVEL_K2_VERSION;
