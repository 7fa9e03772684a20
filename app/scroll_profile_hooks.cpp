// Where the scroll profile meets the windows that time their work: the editors and the preview
// get the recording function when profiling was asked for, and the table is written at exit.

#include "app/hosted_units.h"
#include "app/scroll_profile.h"
#include "preview/preview_window.h"

namespace pellix {

// The preview numbers its two stages itself; they index the profile's table.
static_assert(scroll_stage::preview_input == 3 && scroll_stage::preview_paint == 4 &&
              scroll_stage_count == 5);

void write_scroll_profile() {
    write_scroll_profile_file(scroll_profile, scroll_profile_file_name);
}

void attach_scroll_profile() {
    if (scroll_profile.enabled) {
        preview().profile = record_stage_sample;
    }
}

} // namespace pellix
