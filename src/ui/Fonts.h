#pragma once

namespace corvidan::ui {

/// Maps the Windows font names the windows ask for to the IPA fonts and sets a
/// default font that renders Japanese.
void installJapaneseFonts();

} // namespace corvidan::ui
