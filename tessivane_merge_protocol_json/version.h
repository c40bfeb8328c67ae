// The one place that holds the program's version text.
#pragma once

inline constexpr char kMergeVersion[] = "1.3.5";
