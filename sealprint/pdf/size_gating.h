// The size-gating line, the last line of every protocol list on page 1.
#pragma once

#include <hpdf.h>

// Draws g_data's gating at the current text position, inside the protocol's open text object
// with Helvetica 32 current: "Size gating :" and, unless the gating is blank, the range in the
// tilde form ("5 ~ 20 μm") when the stored text holds "~", else in the inequality form
// ("5 ≤  x  < 20 μm"). Mixes three fonts; FreeSerif 32 is current afterwards. True when a range
// was drawn, false for the label alone.
bool print_size_gating(HPDF_Page& page);
