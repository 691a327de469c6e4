// The record grammar of a trace under a stated convention. Every record
// starts with an even event tag or an access code; what follows the tag is
// fixed by the tag, except where the frame on top of the stack says that the
// values belong to a wrapped library call (an allocation, a block transfer,
// a thread name).
#include "tracereader/records.h"

#include <algorithm>
#include <array>
#include <new>

#include "commonProfInclude/TracingConstants.h"
#include "commonProfInclude/bitfields.h"

namespace tracereader {

namespace {

constexpr uint64_t kNullThreadName = ThreadId_Invalid_;

struct RoleName {
  std::string_view name;
  BracketRole role;
  // Block functions: which of their block accesses, in the order the
  // wrappers report them, write memory (bit i: the i-th); the others read.
  uint8_t writes = 0;
};

// Allocation functions: a 6 directly inside starts an allocation record.
// Block functions: every access directly inside carries a block size; the
// thread and stream wrappers report their blocks through the same hook.
constexpr std::array kRoles = {
    RoleName{"malloc", BracketRole::kAllocation},
    RoleName{"calloc", BracketRole::kAllocation},
    RoleName{"realloc", BracketRole::kAllocation},
    RoleName{"reallocarray", BracketRole::kAllocation},
    RoleName{"valloc", BracketRole::kAllocation},
    RoleName{"pvalloc", BracketRole::kAllocation},
    RoleName{"memalign", BracketRole::kAllocation},
    RoleName{"posix_memalign", BracketRole::kAllocation},
    RoleName{"aligned_alloc", BracketRole::kAllocation},
    RoleName{"strdup", BracketRole::kAllocation},
    RoleName{"strndup", BracketRole::kAllocation},
    RoleName{"mmap", BracketRole::kAllocation},
    RoleName{"mmap64", BracketRole::kAllocation},
    RoleName{"sem_open", BracketRole::kAllocation},
    RoleName{"operator new", BracketRole::kAllocation},
    RoleName{"operator new[]", BracketRole::kAllocation},
    RoleName{"_Znwm", BracketRole::kAllocation},
    RoleName{"_Znam", BracketRole::kAllocation},
    RoleName{"xmalloc", BracketRole::kAllocation},
    RoleName{"tpk_alloc", BracketRole::kAllocation},
    RoleName{"memcpy", BracketRole::kBlock, 1},
    RoleName{"memmove", BracketRole::kBlock, 1},
    RoleName{"memset", BracketRole::kBlock, 1},
    RoleName{"fread", BracketRole::kBlock, 1},
    RoleName{"fwrite", BracketRole::kBlock},
    RoleName{"pthread_create", BracketRole::kBlock, 1},
    RoleName{"nuq_hls_stream_blocking_write", BracketRole::kBlock, 4},
    RoleName{"nuq_hls_stream_blocking_read", BracketRole::kBlock, 6},
    RoleName{"pthread_setname_np", BracketRole::kThreadName},
};

std::string numbered(const char* text, uint64_t value) { return std::string(text) + std::to_string(value); }

}  // namespace

const char* recordKindName(RecordKind kind) {
  switch (kind) {
    case RecordKind::kHeader: return "header";
    case RecordKind::kEntry: return "entry";
    case RecordKind::kExit: return "exit";
    case RecordKind::kExitWithValue: return "exit-with-value";
    case RecordKind::kUnwind: return "unwind";
    case RecordKind::kUnwindStop: return "unwind-stop";
    case RecordKind::kVla: return "vla";
    case RecordKind::kHeapAlloc: return "heap-alloc";
    case RecordKind::kHeapRealloc: return "heap-realloc";
    case RecordKind::kHeapFree: return "heap-free";
    case RecordKind::kThreadCreate: return "thread-create";
    case RecordKind::kThreadJoin: return "thread-join";
    case RecordKind::kThreadName: return "thread-name";
    case RecordKind::kThreadNameNull: return "thread-name-null";
    case RecordKind::kLocalAccess: return "local-access";
    case RecordKind::kGlobalAccess: return "global-access";
    case RecordKind::kOuterAccess: return "outer-access";
    case RecordKind::kHeapAccess: return "heap-access";
    case RecordKind::kRemoteAccess: return "remote-access";
  }
  return "?";
}

BracketRole bracketRole(std::string_view name) {
  for (const RoleName& r : kRoles)
    if (r.name == name) return r.role;
  return BracketRole::kNone;
}

const char* accessDirectionName(AccessDirection direction) {
  switch (direction) {
    case AccessDirection::kRead: return "read";
    case AccessDirection::kWrite: return "write";
    case AccessDirection::kUnknown: break;
  }
  return "";
}

namespace {

uint8_t blockWrites(std::string_view name) {
  for (const RoleName& r : kRoles)
    if (r.name == name) return r.writes;
  return 0;
}

}  // namespace

RecordDecoder::RecordDecoder(ValueSource& source, const DecoderOptions& options)
    : source_(source), options_(options) {
  if (options_.convention == Convention::kDecodable && (options_.names == nullptr || !options_.names->hasFunctionNames()))
    stop(0, "the run directory has no function name lines: the trace was not written under the decodable convention, "
            "so its records cannot be told apart without the program");
}

bool RecordDecoder::stop(uint64_t offset, std::string reason) {
  status_.state = DecodeStatus::kStopped;
  status_.offset = offset;
  status_.recordOffset = std::min(offset, recordStart_);
  try {
    status_.reason = std::move(reason);
  } catch (...) {
  }
  return false;
}

bool RecordDecoder::read(uint64_t* value, const char* what) {
  const uint64_t at = source_.offset();
  Leb128 v;
  switch (source_.next(&v)) {
    case ReadResult::kOk: *value = v.value; return true;
    case ReadResult::kEnd:
      status_.dataEnded = true;
      return stop(at, std::string("the data ends before the ") + what);
    case ReadResult::kError: return stopAtError(at, std::string(" (") + what + ")");
  }
  return false;
}

bool RecordDecoder::stopAtError(uint64_t offset, const std::string& context) {
  // The sources' texts for data that ends inside a value or a run of raw
  // bytes; the other error is an overlong value, which is damage.
  status_.dataEnded = std::string_view(source_.errorText()).starts_with("the data ends inside");
  return stop(offset, source_.errorText() + context);
}

std::string_view RecordDecoder::nameOf(uint64_t linkedId) const {
  return options_.names == nullptr ? std::string_view{} : options_.names->functionName(linkedId);
}

bool RecordDecoder::next(Record* r) {
  if (status_.state != DecodeStatus::kRunning) return false;
  try {
    *r = Record{};
    r->offset = source_.offset();
    recordStart_ = r->offset;
    if (!headerDone_) return header(r);
    Leb128 first;
    switch (source_.next(&first)) {
      case ReadResult::kOk: break;
      case ReadResult::kEnd:
        status_.state = DecodeStatus::kEnded;
        status_.offset = r->offset;
        return false;
      case ReadResult::kError: return stopAtError(r->offset, "");
    }
    const uint64_t v = first.value;
    if (!frames_.empty() && frames_.back().role == BracketRole::kThreadName && !frames_.back().named)
      return threadName(r, v);
    bool ok = false;
    switch (v) {
      case cb_fentry: ok = entry(r); break;
      case cb_fexit: ok = leave(r, RecordKind::kExit); break;
      case cb_fexit_with_return_value: ok = leave(r, RecordKind::kExitWithValue); break;
      case cb_unwind: ok = leave(r, RecordKind::kUnwind); break;
      case cb_unwindstop:
        r->kind = RecordKind::kUnwindStop;
        ok = read(&r->value, "unwind location");
        break;
      case cb_vla_init:
        r->kind = RecordKind::kVla;
        ok = read(&r->value, "array size");
        break;
      case memadr_heap: {
        bool allocation = topRole() == BracketRole::kAllocation;
        if (options_.convention == Convention::kHandInstrumented) {
          if (traceAccesses_ && traceAllocations_)
            return stop(r->offset, "a 6 in a trace with both accesses and allocations: a heap access or an allocation, "
                                   "which only the program knows");
          allocation = !traceAccesses_;
        }
        if (!allocation) {
          ok = access(r, v);
          break;
        }
        if (!traceAllocations_) return stop(r->offset, "a heap allocation in a trace without allocations");
        r->kind = RecordKind::kHeapAlloc;
        ok = read(&r->id, "block id") && read(&r->value, "block size") && read(&r->address, "block address");
        break;
      }
      case cb_heaprealloc:
      case cb_heapfree:
        if (!traceAllocations_) return stop(r->offset, numbered("heap record ", v) + " in a trace without allocations");
        if (v == cb_heaprealloc) {
          r->kind = RecordKind::kHeapRealloc;
          ok = read(&r->id, "block id") && read(&r->value, "block size") && read(&r->address, "block address");
        } else {
          r->kind = RecordKind::kHeapFree;
          ok = read(&r->value, "block size") && read(&r->id, "block id");
        }
        break;
      case cb_thread_create:
      case cb_thread_join:
        r->kind = v == cb_thread_create ? RecordKind::kThreadCreate : RecordKind::kThreadJoin;
        ok = read(&r->id, "thread number");
        if (ok && r->id > UINT32_MAX) return stop(r->offset, numbered("thread number beyond 32 bits: ", r->id));
        break;
      case memadr_local:
      case memadr_global:
      case memadr_arg:
      case memadr_remote: ok = access(r, v); break;
      case cb_store: {
        if (!accessKinds_) return stop(r->offset, "a store tag in a trace whose access mode is not 2");
        uint64_t code = 0;
        if (!read(&code, "access code of a store")) return false;
        if (code < memadr_local || code > memadr_remote)
          return stop(r->offset, numbered("a store tag followed by ", code) + ", which is no access code");
        ok = access(r, code);
        r->direction = AccessDirection::kWrite;
        break;
      }
      default:
        if (v % 2 == 1)
          return stop(r->offset, numbered("odd value ", v) +
                                     ": a basic-block record, which the convention excludes (only the program can tell "
                                     "it from an access)");
        return stop(r->offset, numbered("value ", v) + " cannot start a record");
    }
    r->depth = static_cast<uint32_t>(frames_.size());
    return ok;
  } catch (const std::bad_alloc&) {
    return stop(source_.offset(), "out of memory");
  }
}

bool RecordDecoder::header(Record* r) {
  uint64_t tag = 0, version = 0, modes = 0, accesses = 0, allocations = 0;
  if (!read(&tag, "header")) return false;
  if (tag != cb_version) return stop(r->offset, numbered("the trace does not begin with the version tag 24 but with ", tag));
  if (!read(&version, "format version")) return false;
  if (version != PROF_TRACE_FORMAT_VERSION) return stop(r->offset, numbered("unknown format version ", version));
  if (!read(&modes, "trace-modes tag")) return false;
  if (modes != cb_tracemodes) return stop(r->offset, numbered("the version is not followed by the trace-modes tag 26 but by ", modes));
  if (!read(&accesses, "access mode") || !read(&allocations, "allocation mode")) return false;
  if (accesses > 2 || allocations > 1) return stop(r->offset, "a trace mode other than 0 or 1 (or 2 for accesses)");
  headerDone_ = true;
  traceAccesses_ = accesses >= 1;
  accessKinds_ = accesses == 2;
  traceAllocations_ = allocations == 1;
  r->kind = RecordKind::kHeader;
  r->value = version;
  r->traceAccesses = traceAccesses_;
  r->traceAllocations = traceAllocations_;
  r->accessKinds = accessKinds_;
  return true;
}

bool RecordDecoder::entry(Record* r) {
  r->kind = RecordKind::kEntry;
  if (!read(&r->id, "function id") || !read(&r->value, "caller id")) return false;
  if (r->id > UINT32_MAX) return stop(r->offset, numbered("function id beyond 32 bits: ", r->id));
  if (options_.names != nullptr) {
    if (r->id != 0 && !options_.names->isLinkedId(r->id))
      return stop(r->offset, numbered("entry of function ", r->id) + ", which functionMapping does not list");
    if (r->value != 0 && !options_.names->isStaticId(r->value))
      return stop(r->offset, numbered("entry with caller ", r->value) + ", which is no static id of functionMapping");
  }
  if (frames_.size() >= options_.maxDepth) return stop(r->offset, numbered("call depth beyond ", options_.maxDepth));
  r->function = nameOf(r->id);
  const BracketRole role =
      options_.convention == Convention::kDecodable ? bracketRole(r->function) : BracketRole::kNone;
  frames_.push_back(Frame{static_cast<uint32_t>(r->id), role, false,
                          role == BracketRole::kBlock ? blockWrites(r->function) : uint8_t{0}, 0});
  return true;
}

bool RecordDecoder::leave(Record* r, RecordKind kind) {
  r->kind = kind;
  if (kind == RecordKind::kExitWithValue && !read(&r->value, "returned value")) return false;
  if (options_.convention == Convention::kHandInstrumented) {
    // Entries may be missing, so which call this closes is unknown.
    if (!frames_.empty()) frames_.pop_back();
    return true;
  }
  if (frames_.empty()) return stop(r->offset, std::string(recordKindName(kind)) + " with no frame open");
  r->id = frames_.back().function;
  r->function = nameOf(r->id);
  frames_.pop_back();
  return true;
}

bool RecordDecoder::access(Record* r, uint64_t code) {
  if (!traceAccesses_) return stop(r->offset, numbered("access code ", code) + " in a trace without memory accesses");
  bool ok = read(&r->id, "variable id");
  switch (code) {
    case memadr_local:
      r->kind = RecordKind::kLocalAccess;
      ok = ok && read(&r->value, "offset");
      if (ok && options_.convention == Convention::kDecodable && frames_.empty())
        return stop(r->offset, "local-access with no frame open");
      if (ok && !frames_.empty() && options_.names != nullptr) {
        r->function = nameOf(frames_.back().function);
        r->variable = options_.names->localName(frames_.back().function, r->id);
        ok = named(r, frames_.back().function);
      }
      break;
    case memadr_global:
      r->kind = RecordKind::kGlobalAccess;
      ok = ok && read(&r->value, "offset");
      if (ok && options_.names != nullptr) {
        r->variable = options_.names->variableName(r->id);
        ok = named(r, 0);
      }
      break;
    case memadr_arg:
      r->kind = RecordKind::kOuterAccess;
      ok = ok && read(&r->frame, "frame id") && read(&r->value, "offset");
      if (!ok) return false;
      if (options_.convention == Convention::kDecodable) {
        if (r->frame == 0 || r->frame > frames_.size())
          return stop(r->offset, numbered("access to a local of frame ", r->frame) +
                                     numbered(", but the stack holds ", frames_.size()) + " frames");
        const uint32_t fn = frames_[r->frame - 1].function;
        r->function = nameOf(fn);
        if (options_.names != nullptr) r->variable = options_.names->localName(fn, r->id);
        if (!named(r, fn)) return false;
      }
      break;
    case memadr_heap:
      r->kind = RecordKind::kHeapAccess;
      ok = ok && read(&r->value, "offset");
      break;
    case memadr_remote:
      r->kind = RecordKind::kRemoteAccess;
      ok = ok && read(&r->frame, "function id") && read(&r->thread, "thread number") && read(&r->value, "offset");
      if (ok && options_.names != nullptr) {
        r->function = nameOf(r->frame);
        r->variable = options_.names->localName(r->frame, r->id);
        ok = named(r, r->frame);
      }
      break;
    default: break;
  }
  if (!ok) return false;
  if (r->id > UINT32_MAX) return stop(r->offset, numbered("variable id beyond 32 bits: ", r->id));
  if (accessKinds_) r->direction = AccessDirection::kRead;  // a store's tag makes it a write after this
  if (topRole() == BracketRole::kBlock) {
    Frame& call = frames_.back();
    if (accessKinds_ && call.blocks < 8 && (call.writes >> call.blocks & 1) != 0) r->direction = AccessDirection::kWrite;
    if (call.blocks < UINT8_MAX) ++call.blocks;
    r->hasBlockSize = true;
    return read(&r->blockSize, "block size");
  }
  return true;
}

// Under the decodable convention every variable an access names has a name
// line: a local of the frame's function, or a global or thread-local (0
// with offset 0 is an address no registry knows). A value that names
// anything else is not an access, whatever it looks like; the usual cause
// is a basic-block record, whose values for blocks 1 to 3 equal the access
// codes.
bool RecordDecoder::named(Record* r, uint64_t function) {
  if (options_.convention != Convention::kDecodable || options_.names == nullptr) return true;
  const NameIndex& names = *options_.names;
  std::string what;
  if (r->kind == RecordKind::kGlobalAccess) {
    if (r->id == 0 ? r->value == 0 : names.isVariable(r->id)) return true;
    what = r->id == 0 ? numbered("an unknown address with offset ", r->value)
                      : numbered("variable ", r->id) + ", which no global or threadlocal name line gives";
  } else {
    if (names.isLocalOf(function, r->id)) return true;
    const std::string_view fn = nameOf(function);
    what = numbered("variable ", r->id) + ", which no local name line gives to " +
           (fn.empty() ? numbered("function ", function) : std::string(fn));
  }
  return stop(r->offset, std::string(recordKindName(r->kind)) + " of " + what +
                             ": not an access the convention allows (a basic-block record, as BASIC_BLOCKS writes, "
                             "reads like one)");
}

bool RecordDecoder::threadName(Record* r, uint64_t first) {
  frames_.back().named = true;
  r->id = first;
  if (first == kNullThreadName) {
    r->kind = RecordKind::kThreadNameNull;
    return true;
  }
  if (first > UINT32_MAX) return stop(r->offset, numbered("thread number beyond 32 bits: ", first));
  r->kind = RecordKind::kThreadName;
  if (!read(&r->value, "name length")) return false;
  const uint64_t at = source_.offset();
  if (source_.raw(r->value, &r->text, kMaxNameBytes) != ReadResult::kOk)
    return stopAtError(at, " (thread name)");
  r->depth = static_cast<uint32_t>(frames_.size());
  return true;
}

}  // namespace tracereader
