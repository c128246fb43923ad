#include "scan/htmltree.h"

#include "scan/innertext.h"
#include "scan/scancancel.h"

#include <sys/mman.h>
#include <QCoreApplication>
#include <QTimer>

#include <atomic>
#include <bit>
#include <chrono>
#include <condition_variable>
#include <csetjmp>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

namespace tevrin {
namespace {

using Clock = std::chrono::steady_clock;

TreeBounds gBounds;
std::function<void()> gStartHook;

// How often the waiting thread lets its events run, and how long it waits
// beyond the build's own time for a build that does not give up by itself.
constexpr auto kPumpInterval = std::chrono::milliseconds(10);
constexpr auto kWaitMargin = std::chrono::milliseconds(2000);

// Chunks of trees gone, kept for the next tree: memory that a thread of its
// own gets fresh from the system is faulted in page by page, which costs a
// large page's scan a good part of its time. Chunks come straight from the
// system and go straight back to it (the general heap would keep them, or
// scatter them): a while after the last tree went, all but a few are
// returned, so an idle tool does not hold the largest page's tree. Never
// destroyed, so that a build still running at exit can use it.
class ChunkPool {
 public:
  static constexpr size_t kChunkBytes = size_t(1) << 20;
  static constexpr size_t kKeep = 8;     // chunks kept for good: 8 MiB
  static constexpr int kIdleMs = 10000;  // the rest go after this long without a tree

  static ChunkPool& instance() {
    static auto* pool = new ChunkPool;  // NOLINT: deliberately never freed
    return *pool;
  }
  void* take() {
    {
      const std::lock_guard lock(mutex_);
      lastUse_ = Clock::now();
      if (!chunks_.empty()) {
        void* chunk = chunks_.back();
        chunks_.pop_back();
        return chunk;
      }
    }
    void* chunk = ::mmap(nullptr, kChunkBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return chunk == MAP_FAILED ? nullptr : chunk;
  }
  void give(void* chunk) {
    bool schedule = false;
    {
      const std::lock_guard lock(mutex_);
      lastUse_ = Clock::now();
      // Room for two whole trees was made at the start: a tree's arena goes
      // in a destructor, which must not allocate (or throw).
      if (chunks_.size() < chunks_.capacity()) {
        chunks_.push_back(chunk);
        chunk = nullptr;
      }
      schedule = chunks_.size() > kKeep && !trimPending_;
      trimPending_ = trimPending_ || schedule;
    }
    if (chunk) ::munmap(chunk, kChunkBytes);
    if (schedule) scheduleTrim();
  }
  // Returns the chunks beyond kKeep to the system, at once.
  void trim() {
    std::vector<void*> surplus;
    {
      const std::lock_guard lock(mutex_);
      while (chunks_.size() > kKeep) {
        surplus.push_back(chunks_.back());
        chunks_.pop_back();
      }
    }
    for (void* chunk : surplus) ::munmap(chunk, kChunkBytes);
  }
  size_t kept() {
    const std::lock_guard lock(mutex_);
    return chunks_.size();
  }

 private:
  ChunkPool() { chunks_.reserve(kMaxKept); }
  // Two trees' budgets of chunks: the one being built and one given up on.
  static constexpr size_t kMaxKept = 2 * 512;
  // On the application's thread: its event loop runs the timer. Without an
  // application the surplus goes at once.
  void scheduleTrim() {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
      {
        const std::lock_guard lock(mutex_);
        trimPending_ = false;
      }
      trim();
      return;
    }
    QMetaObject::invokeMethod(
        app, [this, app] { QTimer::singleShot(kIdleMs, app, [this] { trimWhenIdle(); }); },
        Qt::QueuedConnection);
  }
  void trimWhenIdle() {
    bool busy = false;
    {
      const std::lock_guard lock(mutex_);
      busy = Clock::now() - lastUse_ < std::chrono::milliseconds(kIdleMs);
      if (!busy) trimPending_ = false;
    }
    if (busy) {  // a tree was built meanwhile: look again later
      QTimer::singleShot(kIdleMs, QCoreApplication::instance(), [this] { trimWhenIdle(); });
      return;
    }
    trim();
  }

  std::mutex mutex_;
  std::vector<void*> chunks_;
  Clock::time_point lastUse_;
  bool trimPending_ = false;  // a trim is scheduled
};

// Builds given up on that still run. At most one may: each may hold its
// whole memory budget until it notices.
std::mutex gAbandonedMutex;
std::condition_variable gAbandonedGone;
int gAbandoned = 0;

#if defined(__SANITIZE_ADDRESS__)
#define TEVRIN_TREE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TEVRIN_TREE_ASAN 1
#endif
#endif

// The HTML parser's memory. Small blocks are cut from 1 MiB chunks and reused
// by size class; large ones are allocated one by one. Everything is counted
// against the budget, and everything goes at once when the arena goes, so the
// tree needs no freeing walk of its own (a recursive one, in the parser's
// library) and a build given up on in the middle leaves nothing behind.
// The parser cannot handle a failed allocation, so the arena gives up by
// jumping back to where the parse began; the parser is plain C and holds
// nothing but this memory.
class TreeArena {
 public:
  enum class Outcome { Working, OverBudget, OverTime, Abandoned };

  TreeArena(qint64 budget, Clock::time_point deadline, const std::atomic<bool>& abandoned)
      : budget_(budget), deadline_(deadline), abandoned_(abandoned) {}
  ~TreeArena() {
    for (void* chunk : chunks_) ChunkPool::instance().give(chunk);
    while (large_) {
      LargeBlock* next = large_->next;
      std::free(large_);
      large_ = next;
    }
  }
  TreeArena(const TreeArena&) = delete;
  TreeArena& operator=(const TreeArena&) = delete;

  static void* Allocate(void* arena, size_t bytes) { return static_cast<TreeArena*>(arena)->take(bytes); }
  static void Release(void* arena, void* block) { static_cast<TreeArena*>(arena)->give(block); }

  // Checked between two allocations; also by the walk after the parse.
  bool mayGoOn() {
    if (abandoned_.load(std::memory_order_relaxed)) {
      outcome = Outcome::Abandoned;
      return false;
    }
    if ((++calls_ & 1023U) == 0 && Clock::now() > deadline_) {
      outcome = Outcome::OverTime;
      return false;
    }
    return true;
  }

  std::jmp_buf parseStart{};
  Outcome outcome = Outcome::Working;

 private:
  struct FreeBlock {
    FreeBlock* next;
  };
  struct LargeBlock {
    LargeBlock* prev;
    LargeBlock* next;
    size_t bytes;
    std::uint64_t sizeClass;  // the header word right before every block
  };

  static constexpr size_t kChunkBytes = ChunkPool::kChunkBytes;
  static constexpr size_t kHeader = sizeof(std::uint64_t);
  static constexpr size_t kSmallLimit = 512;  // 8-byte steps up to here, powers of two above
#ifdef TEVRIN_TREE_ASAN
  static constexpr size_t kMediumLimit = 0;  // every block on its own, so that overruns are seen
#else
  static constexpr size_t kMediumLimit = size_t(64) * 1024;
#endif
  static constexpr unsigned kClasses = 72;
  static constexpr std::uint64_t kLargeClass = ~std::uint64_t(0);

  static unsigned ClassOf(size_t bytes) {
    if (bytes <= kSmallLimit) return unsigned((std::max<size_t>(bytes, 8) + 7) / 8);  // 1..64
    return 64 + unsigned(std::bit_width(bytes - 1)) - 9;                              // 65..71
  }
  static size_t ClassBytes(unsigned sizeClass) {
    return sizeClass <= 64 ? size_t(sizeClass) * 8 : size_t(1) << (sizeClass - 64 + 9);
  }
  static std::uint64_t& HeaderOf(void* block) {
    return *reinterpret_cast<std::uint64_t*>(static_cast<char*>(block) - kHeader);
  }

  [[noreturn]] void giveUp(Outcome why) {
    outcome = why;
    std::longjmp(parseStart, 1);  // NOLINT: the parser is C and cannot be unwound any other way
  }

  void charge(size_t bytes) {
    if (held_ + qint64(bytes) > budget_) giveUp(Outcome::OverBudget);
    held_ += qint64(bytes);
  }

  void* take(size_t bytes) {
    if (!mayGoOn()) giveUp(outcome);
    if (bytes > kMediumLimit) return takeLarge(bytes);
    const unsigned sizeClass = ClassOf(bytes);
    if (FreeBlock* block = free_[sizeClass]) {
      free_[sizeClass] = block->next;
      return block;
    }
    const size_t need = kHeader + ClassBytes(sizeClass);
    if (size_t(end_ - next_) < need) newChunk();
    char* block = next_ + kHeader;
    next_ += need;
    HeaderOf(block) = sizeClass;
    return block;
  }

  void* takeLarge(size_t bytes) {
    const size_t total = sizeof(LargeBlock) + bytes;
    charge(total);
    auto* block = static_cast<LargeBlock*>(std::malloc(total));
    if (!block) giveUp(Outcome::OverBudget);
    *block = {nullptr, large_, total, kLargeClass};
    if (large_) large_->prev = block;
    large_ = block;
    return block + 1;
  }

  void newChunk() {
    charge(kChunkBytes);
    void* chunk = ChunkPool::instance().take();
    if (!chunk) giveUp(Outcome::OverBudget);
    // No exception may cross the parser's frames, and no jump may leave a
    // handler: the handler only notes the failure.
    bool kept = false;
    try {
      chunks_.push_back(chunk);
      kept = true;
    } catch (const std::bad_alloc&) {
      kept = false;
    }
    if (!kept) {
      ChunkPool::instance().give(chunk);
      giveUp(Outcome::OverBudget);
    }
    next_ = static_cast<char*>(chunk);
    end_ = next_ + kChunkBytes;
  }

  void give(void* block) {
    if (!block) return;
    const std::uint64_t sizeClass = HeaderOf(block);
    if (sizeClass == kLargeClass) {
      LargeBlock* large = static_cast<LargeBlock*>(block) - 1;
      if (large->prev) large->prev->next = large->next;
      else large_ = large->next;
      if (large->next) large->next->prev = large->prev;
      held_ -= qint64(large->bytes);
      std::free(large);
      return;
    }
    auto* freed = static_cast<FreeBlock*>(block);
    freed->next = free_[sizeClass];
    free_[sizeClass] = freed;
  }

  const qint64 budget_;
  const Clock::time_point deadline_;
  const std::atomic<bool>& abandoned_;
  qint64 held_ = 0;
  unsigned calls_ = 0;
  std::vector<void*> chunks_;
  char* next_ = nullptr;
  char* end_ = nullptr;
  FreeBlock* free_[kClasses] = {};
  LargeBlock* large_ = nullptr;
};

// No object with a destructor may live in this frame: the arena jumps back here.
GumboOutput* ParseWithin(TreeArena& arena, const GumboOptions* options, const char* text, size_t size) {
  if (setjmp(arena.parseStart) != 0) return nullptr;  // NOLINT: see TreeArena::giveUp
  return gumbo_parse_with_options(options, text, size);
}

// Every TR element of the document in document order, found without
// recursion, while no element lies deeper than `maxDepth`. Template contents
// are not part of the document: their rows are not taken, their depth counts.
bool CollectRows(const GumboNode* root, int maxDepth, TreeArena& arena, std::vector<const GumboNode*>& rows) {
  struct Entry {
    const GumboNode* node;
    unsigned next;
    bool inTemplate;
  };
  std::vector<Entry> stack;
  stack.push_back({root, 0, false});
  while (!stack.empty()) {
    Entry& entry = stack.back();
    const GumboVector* kids = entry.node->type == GUMBO_NODE_DOCUMENT ? &entry.node->v.document.children
                              : IsElement(entry.node)                 ? &entry.node->v.element.children
                                                                      : nullptr;
    if (!kids || entry.next >= kids->length) {
      stack.pop_back();
      continue;
    }
    const GumboNode* child = static_cast<const GumboNode*>(kids->data[entry.next++]);
    if (!IsElement(child)) continue;
    const bool inTemplate = entry.inTemplate || child->type == GUMBO_NODE_TEMPLATE;
    if (!inTemplate && child->v.element.tag == GUMBO_TAG_TR &&
        child->v.element.tag_namespace == GUMBO_NAMESPACE_HTML)
      rows.push_back(child);
    stack.push_back({child, 0, inTemplate});  // invalidates entry
    if (stack.size() > size_t(maxDepth) + 1 || !arena.mayGoOn()) return false;
  }
  return true;
}

}  // namespace

struct HtmlTree::Job {
  Job(QByteArray text, const TreeBounds& bounds, std::function<void()> hook)
      : input(std::move(text)),
        maxDepth(bounds.depth),
        startHook(std::move(hook)),
        arena(bounds.bytes, Clock::now() + std::chrono::milliseconds(bounds.millis), abandoned) {}

  void run() {
    if (startHook) startHook();
    GumboOptions options = kGumboDefaultOptions;
    options.allocator = &TreeArena::Allocate;
    options.deallocator = &TreeArena::Release;
    options.userdata = &arena;
    options.max_errors = 0;  // the parse errors are of no use here and cost time
    // The tree points into its input, which therefore lives as long as the job.
    output = ParseWithin(arena, &options, input.constData(), size_t(input.size()));
    bool ok = false;
    try {
      ok = output && output->document && CollectRows(output->document, maxDepth, arena, rows);
    } catch (const std::bad_alloc&) {
      rows.clear();  // refused like a tree over its budget
    }
    {
      const std::lock_guard lock(mutex);
      built = ok;
      finished = true;
    }
    done.notify_all();
  }

  // Given up on by the waiting side: counted among the builds still running
  // unless it has already finished. True when it was counted.
  bool abandon() {
    abandoned.store(true);
    const std::lock_guard lock(mutex);
    if (finished) return false;
    counted = true;
    const std::lock_guard count(gAbandonedMutex);
    ++gAbandoned;
    return true;
  }
  bool wasCounted() {
    const std::lock_guard lock(mutex);
    return counted;
  }

  void wake() {
    const std::lock_guard lock(mutex);
    done.notify_all();
  }

  const QByteArray input;
  const int maxDepth;
  const std::function<void()> startHook;
  std::atomic<bool> abandoned{false};
  TreeArena arena;  // after `abandoned`, which it watches
  GumboOutput* output = nullptr;
  std::vector<const GumboNode*> rows;

  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  bool built = false;
  bool counted = false;  // among the given-up builds still running
};

namespace {
// Runs on the building thread: the job, then its memory goes, then a given-up
// build stops counting.
void RunAndRelease(std::shared_ptr<HtmlTree::Job> job) {
  job->run();
  const bool counted = job->wasCounted();
  job.reset();  // the last reference when the waiting side gave up: the arena is freed here
  if (!counted) return;
  {
    const std::lock_guard lock(gAbandonedMutex);
    --gAbandoned;
  }
  gAbandonedGone.notify_all();
}

// Waits, letting the caller's events run, until no given-up build runs any
// more. False when the time runs out or the scan is cancelled first.
bool WaitForGivenUpBuild(const std::function<void()>& pump, Clock::time_point until) {
  ScanCancel& cancel = ScanCancel::instance();
  const ScanCancel::Listener wakeOnCancel = cancel.listen([] {
    const std::lock_guard lock(gAbandonedMutex);
    gAbandonedGone.notify_all();
  });
  for (;;) {
    {
      std::unique_lock lock(gAbandonedMutex);
      gAbandonedGone.wait_for(lock, kPumpInterval, [&] { return gAbandoned == 0 || cancel.isRequested(); });
      if (gAbandoned == 0) return true;
    }
    if (cancel.isRequested() || Clock::now() >= until) return false;
    if (pump) pump();
  }
}
}  // namespace

int GivenUpBuildsRunning() {
  const std::lock_guard lock(gAbandonedMutex);
  return gAbandoned;
}

size_t TreeChunksKept() { return ChunkPool::instance().kept(); }

void SetTreeBounds(const TreeBounds& bounds) { gBounds = bounds; }
TreeBounds CurrentTreeBounds() { return gBounds; }
void SetTreeBuildStartHook(std::function<void()> hook) { gStartHook = std::move(hook); }

const std::vector<const GumboNode*>& HtmlTree::rows() const {
  static const std::vector<const GumboNode*> none;
  return job_ ? job_->rows : none;
}

TreeBuild HtmlTree::Build(QByteArray utf8, const std::function<void()>& pump, HtmlTree& tree) {
  const TreeBounds bounds = gBounds;
  // A build given up on earlier may still hold its memory: this one waits for
  // it within its own time, and is refused if it does not end.
  const Clock::time_point waitUntil = Clock::now() + std::chrono::milliseconds(bounds.millis) + kWaitMargin;
  if (!WaitForGivenUpBuild(pump, waitUntil))
    return ScanCancel::instance().isRequested() ? TreeBuild::Cancelled : TreeBuild::Refused;

  auto job = std::make_shared<Job>(std::move(utf8), bounds, gStartHook);
  std::thread worker;
  try {
    worker = std::thread(RunAndRelease, job);  // the job lives as long as either side needs it
  } catch (const std::system_error&) {
    return TreeBuild::Refused;  // no thread to be had: as good as no document
  }

  // However this wait ends, also by an exception from `pump`, a build still
  // running is given up on and left to end by itself.
  struct GiveUpUnlessJoined {
    std::thread& worker;
    Job& job;
    ~GiveUpUnlessJoined() {
      if (!worker.joinable()) return;
      job.abandon();
      worker.detach();
    }
  } giveUp{worker, *job};

  ScanCancel& cancel = ScanCancel::instance();
  const ScanCancel::Listener wakeOnCancel = cancel.listen([job] { job->wake(); });

  // The worker gives up by itself at its own time; this wait's deadline is
  // for a build stuck where it cannot look at the clock.
  const Clock::time_point buildUntil = Clock::now() + std::chrono::milliseconds(bounds.millis) + kWaitMargin;
  for (;;) {
    {
      std::unique_lock lock(job->mutex);
      job->done.wait_for(lock, kPumpInterval, [&] { return job->finished || cancel.isRequested(); });
      if (job->finished) break;
    }
    const bool cancelled = cancel.isRequested();
    if (cancelled || Clock::now() >= buildUntil) return cancelled ? TreeBuild::Cancelled : TreeBuild::Refused;
    if (pump) pump();
  }
  worker.join();
  if (!job->built) return TreeBuild::Refused;
  tree.job_ = std::move(job);
  return TreeBuild::Built;
}

}  // namespace tevrin
