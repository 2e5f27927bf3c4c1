// The live stream's fault syntax, the counting that decides which blocks a fault hits, and
// what each fault does to a block and its datagrams.

#include "live/live_faults.h"

#include <algorithm>
#include <charconv>

#include "live/live_blocks.h"

namespace virazav::sim {

namespace {

constexpr uint32_t kDefaultOversizedLength = 0xFFFFFFF0;
constexpr uint8_t kBogusFragmentIndex = 254;
constexpr uint32_t kBogusStride = 0xFFFF;
constexpr size_t kBogusPayload = 16;
constexpr uint8_t kBogusByte = 0xEE;
constexpr uint8_t kForeignStream = 2;
constexpr uint8_t kForeignType = 7;

struct NamedKind {
  std::string_view name;
  LiveFaultKind kind;
  bool takes_param;
};

constexpr NamedKind kKinds[] = {
    {"reorder", LiveFaultKind::kReorder, true},
    {"duplicate", LiveFaultKind::kDuplicate, true},
    {"drop", LiveFaultKind::kDrop, true},
    {"late", LiveFaultKind::kLateFragment, true},
    {"foreign", LiveFaultKind::kForeignSender, false},
    {"stride", LiveFaultKind::kOversizedStride, false},
    {"length", LiveFaultKind::kOversizedLength, true},
    {"short", LiveFaultKind::kShortDatagram, true},
    {"stream2", LiveFaultKind::kStreamTwo, false},
    {"type7", LiveFaultKind::kBlockType7, false},
};

constexpr std::string_view kTypes[] = {"v0", "v1", "a0", "a1"};

std::vector<std::string_view> split(std::string_view text, char at) {
  std::vector<std::string_view> out;
  for (;;) {
    size_t p = text.find(at);
    out.push_back(text.substr(0, p));
    if (p == std::string_view::npos) return out;
    text.remove_prefix(p + 1);
  }
}

bool parse_number(std::string_view text, int64_t* out) {
  bool negative = !text.empty() && text.front() == '-';
  if (negative) text.remove_prefix(1);
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  uint64_t v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, base);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || v > UINT32_MAX) {
    return false;
  }
  *out = negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
  return true;
}

bool fail(std::string* error, std::string message) {
  if (error != nullptr) *error = std::move(message);
  return false;
}

// Returns the position in the list of the datagram carrying fragment `index`, or -1.
int find_fragment(const std::vector<LiveDatagram>& list, int index) {
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i].fragment == index) return static_cast<int>(i);
  }
  return -1;
}

// Resolves a fault's fragment index against a block of `count` fragments.
int resolve_fragment(int fragment, int count) {
  int i = fragment < 0 ? count + fragment : fragment;
  return std::clamp(i, 0, std::max(count - 1, 0));
}

const LiveFault* find_kind(const std::vector<LiveFault>& faults, LiveFaultKind kind) {
  for (const auto& f : faults) {
    if (f.kind == kind) return &f;
  }
  return nullptr;
}

}  // namespace

const char* live_fault_name(LiveFaultKind kind) {
  for (const auto& k : kKinds) {
    if (k.kind == kind) return k.name.data();
  }
  return "?";
}

bool parse_live_faults(std::string_view text, std::vector<LiveFault>* out, std::string* error) {
  std::vector<LiveFault> faults;
  for (std::string_view entry : split(text, ',')) {
    auto fields = split(entry, ':');
    if (fields.size() < 3 || fields.size() > 4) {
      return fail(error, "fault entry \"" + std::string(entry) + "\" is not name:type:N[:param]");
    }
    LiveFault f;
    const NamedKind* named = nullptr;
    for (const auto& k : kKinds) {
      if (k.name == fields[0]) named = &k;
    }
    if (named == nullptr) return fail(error, "unknown fault \"" + std::string(fields[0]) + "\"");
    f.kind = named->kind;
    if (fields[1] != "any") {
      auto it = std::find(std::begin(kTypes), std::end(kTypes), fields[1]);
      if (it == std::end(kTypes)) {
        return fail(error, "unknown block type \"" + std::string(fields[1]) + "\"");
      }
      f.block_type = static_cast<int>(it - std::begin(kTypes));
    }
    int64_t n = 0;
    if (!parse_number(fields[2], &n) || n < 1 || n > INT32_MAX) {
      return fail(error, "bad N \"" + std::string(fields[2]) + "\" (1 or more)");
    }
    f.every = static_cast<int>(n);
    if (fields.size() == 4) {
      int64_t p = 0;
      if (!named->takes_param) {
        return fail(error, "fault \"" + std::string(fields[0]) + "\" takes no param");
      }
      if (!parse_number(fields[3], &p)) {
        return fail(error, "bad param \"" + std::string(fields[3]) + "\"");
      }
      bool index = f.kind == LiveFaultKind::kDuplicate || f.kind == LiveFaultKind::kDrop ||
                   f.kind == LiveFaultKind::kLateFragment;
      if (index) {
        if (p < -kLiveMaxFragments || p >= kLiveMaxFragments) {
          return fail(error, "fragment index out of range: " + std::string(fields[3]));
        }
        f.fragment = static_cast<int>(p);
      } else if (p < 0 || (f.kind == LiveFaultKind::kShortDatagram && p > 8) ||
                 (f.kind == LiveFaultKind::kReorder && p > 1)) {
        return fail(error, "param out of range: " + std::string(fields[3]));
      } else {
        f.value = static_cast<uint32_t>(p);
      }
    }
    faults.push_back(f);
  }
  *out = std::move(faults);
  return true;
}

void LiveFaultPlan::set(std::vector<LiveFault> faults) {
  faults_ = std::move(faults);
  matched_.assign(faults_.size(), 0);
  hits_.assign(faults_.size(), 0);
}

std::vector<LiveFault> LiveFaultPlan::take(int type, int channel) {
  std::vector<LiveFault> out;
  for (size_t i = 0; i < faults_.size(); ++i) {
    const LiveFault& f = faults_[i];
    if (f.block_type >= 0 && f.block_type != type) continue;
    if (f.channel >= 0 && f.channel != channel) continue;
    ++matched_[i];
    if (matched_[i] % std::max(f.every, 1) != 0) continue;
    if (f.count > 0 && hits_[i] >= f.count) continue;
    ++hits_[i];
    out.push_back(f);
  }
  return out;
}

void apply_live_block_faults(const std::vector<LiveFault>& faults, std::vector<uint8_t>* block,
                             std::vector<LiveAppliedFault>* applied) {
  if (block->size() < kLiveHeaderSize) return;
  if (const LiveFault* f = find_kind(faults, LiveFaultKind::kOversizedLength)) {
    uint32_t l = f->value != 0 ? f->value : kDefaultOversizedLength;
    put_live_le32(block->data() + kLiveLengthOffset, l);
    applied->push_back({f->kind, -1, l});
  }
  if (const LiveFault* f = find_kind(faults, LiveFaultKind::kBlockType7)) {
    (*block)[kLiveTypeOffset] = kForeignType;
    applied->push_back({f->kind, -1, kForeignType});
  }
}

void apply_live_datagram_faults(const std::vector<LiveFault>& faults,
                                std::vector<LiveDatagram>* datagrams,
                                std::optional<LiveDatagram>* held,
                                std::vector<LiveAppliedFault>* applied) {
  auto& list = *datagrams;
  if (list.empty()) return;
  const int count = static_cast<int>(list.size());
  // The header every added datagram copies: fragment 0's, after a stream change.
  if (const LiveFault* f = find_kind(faults, LiveFaultKind::kStreamTwo)) {
    for (auto& d : list) d.bytes[kLiveStreamOffset] = kForeignStream;
    applied->push_back({f->kind, -1, kForeignStream});
  }
  std::vector<uint8_t> header(list.front().bytes.begin(),
                              list.front().bytes.begin() + kLiveFragmentHeader);
  header[kLiveFragmentIndexOffset] = 0;

  // Drop, duplicate and hold back each act on one fragment of the cut block.
  for (LiveFaultKind kind :
       {LiveFaultKind::kDrop, LiveFaultKind::kDuplicate, LiveFaultKind::kLateFragment}) {
    const LiveFault* f = find_kind(faults, kind);
    if (f == nullptr) continue;
    const int index = resolve_fragment(f->fragment, count);
    const int at = find_fragment(list, index);
    if (at < 0) continue;
    auto it = list.begin() + at;
    if (kind == LiveFaultKind::kDuplicate) {
      LiveDatagram copy = *it;
      list.insert(it + 1, std::move(copy));
    } else {
      if (kind == LiveFaultKind::kLateFragment) *held = std::move(*it);
      list.erase(it);
    }
    applied->push_back({kind, index, 0});
  }
  if (const LiveFault* f = find_kind(faults, LiveFaultKind::kReorder); f && list.size() >= 2) {
    if (f->value == 1) {
      std::reverse(list.begin(), list.end());
    } else {
      std::swap(list[0], list[1]);
    }
    applied->push_back({f->kind, -1, f->value == 1 ? 1u : 0u});
  }
  if (const LiveFault* f = find_kind(faults, LiveFaultKind::kOversizedStride)) {
    LiveDatagram bogus;
    bogus.bytes = header;
    bogus.bytes[kLiveFragmentIndexOffset] = kBogusFragmentIndex;
    put_live_le32(&bogus.bytes[kLiveStrideOffset], kBogusStride);
    bogus.bytes.resize(kLiveFragmentHeader + kBogusPayload, kBogusByte);
    list.insert(list.empty() ? list.end() : list.end() - 1, std::move(bogus));
    applied->push_back({f->kind, -1, kBogusStride});
  }
  if (const LiveFault* f = find_kind(faults, LiveFaultKind::kShortDatagram)) {
    uint32_t size = f->value == 0 ? kLiveFragmentHeader : std::min<uint32_t>(f->value, 8);
    LiveDatagram stub;
    stub.bytes.assign(header.begin(), header.begin() + size);
    list.insert(list.begin(), std::move(stub));
    applied->push_back({f->kind, -1, size});
  }
  if (const LiveFault* f = find_kind(faults, LiveFaultKind::kForeignSender)) {
    for (auto& d : list) d.foreign = true;
    if (held->has_value()) (*held)->foreign = true;
    applied->push_back({f->kind, -1, 0});
  }
}

}  // namespace virazav::sim
