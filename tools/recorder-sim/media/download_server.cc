// The recorder's side of a download: SendDataF plans the steps of the requested stretch
// and answers with the sizes of the first step's blocks and the stretch's start time;
// each SendDataN answers with the next step's sizes; the blocks of a step follow the
// client's "JpegSendStart" line, video block first, back to back. A reply with both sizes
// 0 ends the download.

#include <algorithm>

#include "internal.h"

namespace virazav::sim::detail {

namespace {

constexpr char kSendDataFirst[] = "SendDataF";
constexpr char kSendDataNext[] = "SendDataN";
constexpr char kTrigger[] = "JpegSendStart\n";
constexpr size_t kBlockLimit = 1048576;  // the client's block buffer
constexpr int kDefaultOversize = 4096;
constexpr int kDefaultOverrunUnits = 8;
constexpr int kSizeDigits = 8;

std::string reply(const std::string& id, std::initializer_list<uint32_t> values) {
  std::string out = id + " OK";
  for (uint32_t v : values) out += " " + hex_text(v, kSizeDigits);
  return out + "\r\n";
}

uint16_t le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

// Returns the offset of the last record header of a video block, or 0 when it has none.
size_t last_record(const std::vector<uint8_t>& block) {
  if (block.size() <= kVideoBlockHeader) return 0;
  size_t at = kVideoBlockHeader;
  size_t last = 0;
  for (int i = 0; i < block[kVideoBlockCountOffset]; ++i) {
    if (at + kRecordHeader > block.size()) break;
    last = at;
    at += kRecordHeader + kPacketUnit * le16(&block[at + kRecordUnitsOffset]);
  }
  return last;
}

// Applies a download fault to a step's blocks.
void reshape_step(const Fault& fault, DownloadStep* step) {
  switch (fault.kind) {
    case FaultKind::kBlockTooLarge: {
      auto& b = step->video.empty() ? step->audio : step->video;
      size_t extra = fault.param > 0 ? static_cast<size_t>(fault.param) : kDefaultOversize;
      if (b.size() < kBlockLimit + extra) b.resize(kBlockLimit + extra, 0);
      break;
    }
    case FaultKind::kRecordOverrun: {
      size_t at = last_record(step->video);
      if (at == 0) break;
      uint32_t units = le16(&step->video[at + kRecordUnitsOffset]);
      units += fault.param > 0 ? static_cast<uint32_t>(fault.param) : kDefaultOverrunUnits;
      units = std::min<uint32_t>(units, 0xFFFF);
      step->video[at + kRecordUnitsOffset] = static_cast<uint8_t>(units & 0xFF);
      step->video[at + kRecordUnitsOffset + 1] = static_cast<uint8_t>(units >> 8);
      break;
    }
    case FaultKind::kBareVideoBlock:
      if (!step->video.empty()) {
        step->video.resize(kVideoBlockHeader);
        step->video[kVideoBlockCountOffset] = 0;
      }
      break;
    case FaultKind::kBareAudioBlock:
      if (!step->audio.empty()) step->audio.resize(kAudioBlockHeader);
      break;
    default:
      break;
  }
}

}  // namespace

bool DownloadServer::handles(std::string_view word) {
  return word == kSendDataFirst || word == kSendDataNext;
}

Outcome DownloadServer::execute(const Command& cmd, int slot, const std::optional<Fault>& fault) {
  Outcome out;
  uint32_t start_time = 0;
  const bool first = cmd.word == kSendDataFirst;
  std::vector<DownloadStep> planned;
  if (first) {
    DownloadRequest request;
    if (!parse_download_request(cmd.values, &request)) {
      out.reply = cmd.id + " NG\r\n";
      return out;
    }
    // Planning encodes what was not encoded before; it runs outside the session lock.
    int64_t start = 0;
    planned = recording_.plan_download(request, &start);
    start_time = static_cast<uint32_t>(start);
  }

  std::lock_guard<std::mutex> lock(mu_);
  Session& s = sessions_[static_cast<size_t>(slot)];
  if (first) {
    s = Session{};
    s.started = true;
    s.planned = std::move(planned);
  } else if (!s.started) {
    out.reply = cmd.id + " NG\r\n";  // no download to continue
    return out;
  }

  DownloadStep step;
  if (s.next < s.planned.size()) step = s.planned[s.next++];
  if (fault) reshape_step(*fault, &step);
  const auto v = static_cast<uint32_t>(step.video.size());
  const auto a = static_cast<uint32_t>(step.audio.size());
  out.reply = first ? reply(cmd.id, {v, a, start_time}) : reply(cmd.id, {v, a});
  if (v == 0 && a == 0) return out;  // the end: the client sends no trigger

  out.block.assign(step.video.begin(), step.video.end());
  out.block.append(step.audio.begin(), step.audio.end());
  out.trigger = kTrigger;
  if (fault && fault->kind == FaultKind::kCloseMidBlock) {
    out.block_cut = fault->param > 0 ? fault->param : static_cast<int64_t>(v / 2);
  }
  s.sent.push_back(std::move(step));
  return out;
}

std::vector<DownloadStep> DownloadServer::steps_sent(int slot) const {
  if (slot < 0 || slot >= kSlotCount) return {};
  std::lock_guard<std::mutex> lock(mu_);
  return sessions_[static_cast<size_t>(slot)].sent;
}

}  // namespace virazav::sim::detail
