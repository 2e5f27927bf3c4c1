// The fault script that tests feed the recorder, and how a fault changes a text on its way
// out: its content (foreign ID, extra tokens, raw text) and its sending (delay, split,
// trickle, close after K bytes, nothing at all).

#include <algorithm>

#include "internal.h"

namespace virazav::sim::detail {

namespace {

constexpr int kDefaultTooManyTokens = 24;  // the client keeps at most 20
constexpr int kDefaultLongToken = 300;     // the client keeps at most 255 characters

// Returns true when a fault of this kind can act on the stage at all.
bool kind_fits(FaultKind kind, Stage stage) {
  switch (kind) {
    case FaultKind::kBusy:
    case FaultKind::kHoldGreeting:
      return stage == Stage::kGreeting;
    case FaultKind::kRefusePassword:
      return stage == Stage::kPassword;
    case FaultKind::kRefuseLink:
      return stage == Stage::kLink;
    case FaultKind::kForeignId:
    case FaultKind::kBlockTooLarge:
    case FaultKind::kRecordOverrun:
    case FaultKind::kCloseMidBlock:
    case FaultKind::kBareVideoBlock:
    case FaultKind::kBareAudioBlock:
      return stage == Stage::kCommand;
    case FaultKind::kNg:
      return stage == Stage::kCommand || stage == Stage::kPassword || stage == Stage::kLink;
    case FaultKind::kTooManyTokens:
    case FaultKind::kLongToken:
      return stage != Stage::kBlock;
    case FaultKind::kNoReply:
    case FaultKind::kDelay:
    case FaultKind::kCloseAfter:
    case FaultKind::kSplit:
    case FaultKind::kTrickle:
    case FaultKind::kRaw:
      return true;
  }
  return false;
}

// Returns true when the kind names its own stage, so that `command` is not consulted.
bool kind_has_own_stage(FaultKind kind) {
  return kind == FaultKind::kBusy || kind == FaultKind::kHoldGreeting ||
         kind == FaultKind::kRefusePassword || kind == FaultKind::kRefuseLink;
}

std::string_view stage_name(Stage stage) {
  switch (stage) {
    case Stage::kGreeting:
      return kStageGreeting;
    case Stage::kPassword:
      return kStagePassword;
    case Stage::kLink:
      return kStageLink;
    case Stage::kBlock:
      return kStageBlock;
    case Stage::kCommand:
      return {};
  }
  return {};
}

bool matches(const Fault& f, Stage stage, std::string_view word, int slot) {
  if (f.slot >= 0 && f.slot != slot) return false;
  if (!kind_fits(f.kind, stage)) return false;
  if (kind_has_own_stage(f.kind)) return true;
  if (stage == Stage::kCommand) return f.command.empty() || f.command == word;
  return f.command == stage_name(stage);
}

// Splits the text into its body and the "\r\n" that ends it (if any).
std::pair<std::string, std::string> split_ending(const std::string& text) {
  if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0) {
    return {text.substr(0, text.size() - 2), "\r\n"};
  }
  return {text, ""};
}

size_t count_tokens(std::string_view body) {
  size_t n = 0;
  bool in_token = false;
  for (char c : body) {
    bool delim = c == ' ' || c == '\t' || c == ',' || c == '\r' || c == '\n';
    if (!delim && !in_token) ++n;
    in_token = !delim;
  }
  return n;
}

// Returns another command ID of the same form: the same digits turned around.
std::string foreign_id(std::string_view id) {
  if (!is_command_id(id)) return "ID00000000";
  std::string digits(id.substr(2));
  std::string other(digits.rbegin(), digits.rend());
  if (other == digits) {
    // A palindrome turns into itself; change the last digit instead.
    other.back() = other.back() == '0' ? '1' : '0';
  }
  return "ID" + other;
}

}  // namespace

void FaultScript::add(Fault fault) {
  std::lock_guard<std::mutex> lock(mu_);
  faults_.push_back(std::move(fault));
}

void FaultScript::clear() {
  std::lock_guard<std::mutex> lock(mu_);
  faults_.clear();
}

int FaultScript::pending() const {
  std::lock_guard<std::mutex> lock(mu_);
  return static_cast<int>(faults_.size());
}

std::optional<Fault> FaultScript::take(Stage stage, std::string_view word, int slot) {
  std::lock_guard<std::mutex> lock(mu_);
  for (auto it = faults_.begin(); it != faults_.end(); ++it) {
    if (!matches(*it, stage, word, slot)) continue;
    Fault copy = *it;
    if (it->count > 0 && --it->count == 0) faults_.erase(it);
    return copy;
  }
  return std::nullopt;
}

std::string reshape(const Fault& fault, std::string text, std::string_view id) {
  switch (fault.kind) {
    case FaultKind::kForeignId: {
      if (!id.empty() && text.compare(0, id.size(), id) == 0) {
        text.replace(0, id.size(), foreign_id(id));
      }
      return text;
    }
    case FaultKind::kTooManyTokens: {
      auto [body, ending] = split_ending(text);
      size_t want = fault.param > 0 ? static_cast<size_t>(fault.param) : kDefaultTooManyTokens;
      for (size_t n = count_tokens(body); n < want; ++n) body += " 0";
      return body + ending;
    }
    case FaultKind::kLongToken: {
      auto [body, ending] = split_ending(text);
      size_t len = fault.param > 0 ? static_cast<size_t>(fault.param) : kDefaultLongToken;
      return body + " " + std::string(len, 'A') + ending;
    }
    case FaultKind::kRaw: {
      std::string out;
      std::string_view raw = fault.text;
      for (size_t pos = 0;;) {
        size_t at = raw.find("{id}", pos);
        out.append(raw.substr(pos, at == std::string_view::npos ? raw.npos : at - pos));
        if (at == std::string_view::npos) break;
        out.append(id);
        pos = at + 4;
      }
      return out;
    }
    case FaultKind::kBusy: {
      // Token 0 becomes "Busy"; the other tokens stay.
      size_t end = text.find(' ');
      if (end == std::string::npos) return "Busy\r\n";
      return "Busy" + text.substr(end);
    }
    default:
      return text;
  }
}

bool send_shaped(Connection& conn, std::string_view text, const std::optional<Fault>& fault) {
  if (!fault) return conn.send_text(text);
  switch (fault->kind) {
    case FaultKind::kNoReply:
    case FaultKind::kHoldGreeting:
      return true;
    case FaultKind::kDelay:
      if (!conn.pause(fault->delay_ms)) return false;
      return conn.send_text(text);
    case FaultKind::kCloseAfter: {
      size_t k = std::min(text.size(), static_cast<size_t>(std::max(fault->param, 0)));
      if (k > 0) conn.send_text(text.substr(0, k));
      return false;
    }
    case FaultKind::kSplit: {
      size_t k = fault->param > 0 ? static_cast<size_t>(fault->param) : text.size() / 2;
      k = std::min(k, text.size());
      if (!conn.send_text(text.substr(0, k))) return false;
      if (!conn.pause(fault->delay_ms)) return false;
      return conn.send_text(text.substr(k));
    }
    case FaultKind::kTrickle:
      for (size_t i = 0; i < text.size(); ++i) {
        if (i > 0 && !conn.pause(fault->delay_ms)) return false;
        if (!conn.send_text(text.substr(i, 1))) return false;
      }
      return true;
    default:
      return conn.send_text(text);
  }
}

}  // namespace virazav::sim::detail
