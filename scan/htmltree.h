#pragma once
#include <QByteArray>
#include <QtGlobal>

#include <gumbo.h>

#include <functional>
#include <memory>
#include <vector>

namespace tevrin {

// What parsing one page may cost. A page that needs more is refused: a
// hostile page can nest millions of elements or ask for gigabytes.
struct TreeBounds {
  qint64 bytes = qint64(512) * 1024 * 1024;  // memory the tree may take while it is built
  int depth = 1024;                          // deepest element nesting
  int millis = 15000;                        // time the tree may take to build
  int walkMillis = 15000;                    // time its rows may take to walk
};

// The bounds of the next builds; the tests lower them.
void SetTreeBounds(const TreeBounds& bounds);
TreeBounds CurrentTreeBounds();

// Run on the building thread before the HTML parser starts; for tests that
// need the build to wait for something. Empty by default.
void SetTreeBuildStartHook(std::function<void()> hook);

enum class TreeBuild { Built, Refused, Cancelled };

// Builds given up on that still run (0 or 1), and the 1 MiB chunks of tree
// memory kept for the next tree (all of the last tree's while scans follow
// each other, 8 once none was built for 10 s); for the tests.
int GivenUpBuildsRunning();
size_t TreeChunksKept();

// The parsed tree of one page and its TR elements in document order (template
// contents left out). It owns its memory; the tree goes when the last copy goes.
class HtmlTree {
 public:
  const std::vector<const GumboNode*>& rows() const;

  // Builds the tree of `utf8` on a thread of its own. Meanwhile `pump` is
  // called about every 10 ms on the calling thread (the window keeps
  // answering). Ends at once when the scan is cancelled, and as refused when
  // the tree is over one of its bounds or the build outlives its time. A
  // build given up on is left to end on its own: it frees what it made. At
  // most one such build runs: a new build first waits for it, within its own
  // time, and is refused when it is still running then.
  static TreeBuild Build(QByteArray utf8, const std::function<void()>& pump, HtmlTree& tree);

  struct Job;

 private:
  std::shared_ptr<Job> job_;
};

}  // namespace tevrin
