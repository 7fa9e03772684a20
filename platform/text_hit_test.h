#pragma once

#include <dwrite.h>

namespace pellix {

// The three hit tests of IDWriteTextLayout, with the real methods' arguments, results and
// HRESULTs. Each calls the layout's own method; only when that answers E_NOTIMPL (Wine 8 has
// none of the three) is the same answer computed from the line and cluster metrics, assuming
// left-to-right visual order within a line. Every caller in the program goes through these,
// so no other code knows of the fallback.

// The cluster under (x, y), relative to the layout's top-left corner; points above, below,
// left or right of the text snap to the nearest line and cluster with `is_inside` FALSE.
HRESULT hit_test_point(IDWriteTextLayout* layout, FLOAT x, FLOAT y, BOOL* is_trailing_hit,
                       BOOL* is_inside, DWRITE_HIT_TEST_METRICS* metrics);

// The caret point at the leading (or trailing) edge of the cluster holding `position`.
HRESULT hit_test_text_position(IDWriteTextLayout* layout, UINT32 position, BOOL is_trailing_hit,
                               FLOAT* x, FLOAT* y, DWRITE_HIT_TEST_METRICS* metrics);

// One rectangle per line that [start, start + length) touches, offset by the origin. A buffer
// too small (also a size query with none) answers E_NOT_SUFFICIENT_BUFFER with the needed
// count in `actual_count`, as the real method does.
HRESULT hit_test_text_range(IDWriteTextLayout* layout, UINT32 start, UINT32 length, FLOAT origin_x,
                            FLOAT origin_y, DWRITE_HIT_TEST_METRICS* metrics, UINT32 max_count,
                            UINT32* actual_count);

} // namespace pellix
