#pragma once

// The UI Automation element and text range providers of an accessible window. They hold no
// text of their own: each answer comes from a fresh snapshot or a body run on the window's UI
// thread through the accessibility bridge, so a range always reflects the current text.

#include <memory>

#include "preview/accessibility_bridge.h"

namespace pellix {

// A new provider of `state` with one reference, which the caller owns.
IRawElementProviderSimple* create_text_provider(std::shared_ptr<PreviewAccessibility::State> state);

} // namespace pellix
