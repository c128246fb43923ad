#include "web/banner.h"

#include "scan/catalogue.h"

namespace tevrin {

QString BannerPageUrl() { return MakerSiteUrl() + QStringLiteral("/reklama.html"); }

QString StyleBannerScript() {
  return QStringLiteral(R"JS((function () {
  var steps = [
    function (d) { if (!("bgColor" in d)) return false; d.bgColor = "#acdde9"; },
    function (d) { d.body.style.overflowY = "hidden"; },
    function (d) { d.body.style.overflowX = "hidden"; },
    function (d) { if (d.body) { d.body.style.borderStyle = "none"; return true; } return false; },
    function (d) { if (d.body) { d.body.style.borderColor = "#6495ED"; return true; } return false; }
  ];
  var applied = 0;
  for (var i = 0; i < steps.length; ++i) {
    try {
      var d = window.top.document;
      if (d && steps[i](d) !== false) ++applied;
    } catch (e) {
    }
  }
  return applied;
})())JS");
}

}  // namespace tevrin
