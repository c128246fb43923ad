#pragma once
#include <QString>

namespace tevrin {

// The maker's banner page shown in the banner pane.
QString BannerPageUrl();  // MakerSiteUrl() + "/reklama.html"

// JavaScript that fits the loaded banner page into its pane, run on the
// top-level document: background "#acdde9", the body's vertical and then
// horizontal overflow "hidden", its border style "none" and border colour
// "#6495ED". Each step looks the document up again and is guarded on its
// own, so a missing document or body only skips steps and the script never
// throws. Its result is the number of steps that took effect (0..5).
QString StyleBannerScript();

}  // namespace tevrin
