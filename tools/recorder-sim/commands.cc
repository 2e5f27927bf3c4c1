// The commands the recorder understands on a command connection: the form of each line
// (word, field count, field widths, hexadecimal or decimal), and what each command does to
// the recorder's clock, switch tables, status, playback state and stores, and replies.

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "internal.h"

namespace virazav::sim::detail {

namespace {

enum class Field { kHex2, kHex4, kHex6, kHex8, kDec2, kDec4, kText, kEmpty };

struct CommandForm {
  std::string_view word;
  std::vector<Field> fields;
};

// Every command line the recorder accepts. ReBoot carries one empty field: its line ends in
// a blank before the newline.
const std::vector<CommandForm>& command_forms() {
  using enum Field;
  static const std::vector<CommandForm> forms = {
      {"GetTime", {}},
      {"SetTime", {kText, kText}},
      {"CamSwGet", {kHex6}},
      {"CamSwSet", {kHex2, kHex2}},
      {"HDSwGet", {kHex6}},
      {"HDSwSet", {kHex2, kHex2}},
      {"JpegSwGet", {kHex6}},
      {"JpegSwSet", {kHex2, kHex4}},
      {"CombiSwSet", {kHex4, kHex4, kHex4, kHex4, kHex4}},
      {"CombiSwGet", {kHex2, kHex4, kHex4, kHex4, kHex4, kHex4}},
      {"SendMenu", {kHex2}},
      {"SendStatus", {kHex2}},
      {"ControlPlay", {kHex2}},
      {"PlaySearch", {kDec4, kDec2, kDec2, kDec2, kDec2, kDec2, kDec2}},
      {"SetPlayPointer", {kHex8, kHex8}},
      {"ReadHddList", {kHex8, kHex8}},
      {"GetPlayList", {kHex2}},
      {"ReBoot", {kEmpty}},
      {"MemGet", {kHex6, kHex6}},
      {"MemSet", {kHex2, kHex4, kHex4}},
      {"I2cGet", {kHex6, kHex4}},
      {"I2cSet", {kHex4, kHex4, kHex4}},
      {"NvcGet", {kHex4, kHex4, kHex4}},
      {"NvcSet", {kHex4, kHex4, kHex4, kHex4}},
      {"SendUpdate", {kHex2, kHex8}},
      // The download (media/download_server.cc): twelve decimal fields, and none.
      {"SendDataF", std::vector<Field>(12, kDec2)},
      {"SendDataN", {}},
      // The live stream (live/live_commands.cc).
      {"UDPup", {kDec2, kDec2}},
      {"UDPdown", {kDec2, kDec2}},
      {"UDPdispmode", {kHex2, kHex2, kHex2}},
  };
  return forms;
}

bool parse_field(Field form, std::string_view text, int64_t* value) {
  uint32_t h = 0;
  int32_t d = 0;
  bool ok = false;
  switch (form) {
    case Field::kHex2:
      ok = parse_hex_field(text, 2, &h);
      break;
    case Field::kHex4:
      ok = parse_hex_field(text, 4, &h);
      break;
    case Field::kHex6:
      ok = parse_hex_field(text, 6, &h);
      break;
    case Field::kHex8:
      ok = parse_hex_field(text, 8, &h);
      break;
    case Field::kDec2:
      ok = parse_dec_field(text, 2, &d);
      *value = d;
      return ok;
    case Field::kDec4:
      ok = parse_dec_field(text, 4, &d);
      *value = d;
      return ok;
    case Field::kText:
      *value = 0;
      return !text.empty();
    case Field::kEmpty:
      *value = 0;
      return text.empty();
  }
  *value = h;
  return ok;
}

// Clock arithmetic on a proleptic Gregorian calendar, independent of the host's time zone.
int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civil_from_days(int64_t z, int* y, int* m, int* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *y = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (*m <= 2));
}

int days_in_month(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return m == 2 && leap ? 29 : kDays[m - 1];
}

int64_t host_seconds() {
  return static_cast<int64_t>(std::time(nullptr));
}

// Reads `len` decimal digits at text[pos]; false when any is not a digit.
bool digits_at(std::string_view text, size_t pos, size_t len, int* out) {
  int v = 0;
  for (size_t i = pos; i < pos + len; ++i) {
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  *out = v;
  return true;
}

// The recorder counts two-digit years 00..79 as 2000..2079 and 80..99 as 1980..1999.
constexpr int kFirstYear = 1980;
constexpr int kLastYear = 2079;

bool valid_date_time(int y, int mo, int d, int h, int mi, int s) {
  return y >= kFirstYear && y <= kLastYear && mo >= 1 && mo <= 12 && d >= 1 &&
         d <= days_in_month(y, mo) && h >= 0 && h <= 23 && mi >= 0 && mi <= 59 && s >= 0 && s <= 59;
}

int64_t civil_seconds(int y, int mo, int d, int h, int mi, int s) {
  return days_from_civil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * 86400 +
         h * 3600 + mi * 60 + s;
}

std::string ok_reply(const std::string& id, std::initializer_list<std::string> tokens) {
  std::string out = id + " OK";
  for (const auto& t : tokens) out += " " + t;
  return out + "\r\n";
}

std::string ng_reply(const std::string& id) {
  return id + " NG\r\n";
}

// The disk list that ReadHddList counts in: one entry per recorded hour.
constexpr uint32_t kHddListEntries = 32;
// SendUpdate refuses lengths beyond what an update image can be.
constexpr uint32_t kMaxUpdateBytes = 16u * 1024 * 1024;

// Recordings on the simulated disk start here; PlaySearch finds any time from here to the
// recorder clock.
constexpr int kFirstRecording[] = {2004, 1, 1, 0, 0, 0};

}  // namespace

ParseResult parse_command(std::string_view line, Command* out) {
  // Split at single blanks; two blanks in a row or a blank at the end make an empty part.
  std::vector<std::string_view> parts;
  for (size_t pos = 0;;) {
    size_t blank = line.find(' ', pos);
    if (blank == std::string_view::npos) {
      parts.push_back(line.substr(pos));
      break;
    }
    parts.push_back(line.substr(pos, blank - pos));
    pos = blank + 1;
  }
  if (!is_command_id(parts[0])) return ParseResult::kBadId;
  out->id = std::string(parts[0]);
  if (parts.size() < 2) return ParseResult::kUnknownWord;
  out->word = std::string(parts[1]);
  const CommandForm* form = nullptr;
  for (const auto& f : command_forms()) {
    if (f.word == parts[1]) form = &f;
  }
  if (form == nullptr) return ParseResult::kUnknownWord;
  if (parts.size() - 2 != form->fields.size()) return ParseResult::kBadFields;
  out->fields.clear();
  out->values.clear();
  for (size_t i = 0; i < form->fields.size(); ++i) {
    int64_t v = 0;
    if (!parse_field(form->fields[i], parts[i + 2], &v)) return ParseResult::kBadFields;
    out->fields.emplace_back(parts[i + 2]);
    out->values.push_back(v);
  }
  return ParseResult::kOk;
}

State::State() {
  // The clock starts at the host's local wall-clock time.
  std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local) != nullptr) clock_offset = local.tm_gmtoff;

  auto& cam = switches[static_cast<int>(SwitchTable::kCamera)];
  for (uint32_t ch = 0; ch < 16; ++ch) cam[ch] = 0x01;  // all 16 cameras on
  auto& disk = switches[static_cast<int>(SwitchTable::kDisk)];
  disk[0x00] = 0x01;  // recording on
  disk[0x01] = 0x01;  // overwrite the oldest recording when full
  disk[0x02] = 0x00;  // alarm recording off
  disk[0x03] = 0x1E;  // 30 pictures a second
  auto& jpeg = switches[static_cast<int>(SwitchTable::kJpeg)];
  jpeg[0x00] = 0x0001;  // stills on
  jpeg[0x01] = 0x0050;  // quality 80
  jpeg[0x02] = 0x0005;  // one still every 5 s

  status[0x00] = 0x0001;  // recording
  status[0x01] = 0x0000;  // playback state (ControlPlay)
  status[0x02] = 0x0032;  // disk 50 % used
  status[0x03] = 0x0000;  // no alarm input active
  status[0x04] = 0xFFFF;  // video present on all 16 inputs
  status[0x05] = 0x0028;  // 40 degrees inside
}

std::string State::clock_text() const {
  int64_t t = host_seconds() + clock_offset;
  int64_t days = t >= 0 ? t / 86400 : (t - 86399) / 86400;
  int64_t secs = t - days * 86400;
  int y = 0, m = 0, d = 0;
  civil_from_days(days, &y, &m, &d);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%02d %02d:%02d:%02d", ((y % 100) + 100) % 100, m, d,
                static_cast<int>(secs / 3600), static_cast<int>(secs / 60 % 60),
                static_cast<int>(secs % 60));
  return buf;
}

int64_t State::clock_since_2000() const {
  return host_seconds() + clock_offset - civil_seconds(2000, 1, 1, 0, 0, 0);
}

bool State::set_clock(std::string_view date, std::string_view time) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  size_t yd = 0;  // digits of the year
  if (date.size() == 8) {
    yd = 2;
  } else if (date.size() == 10) {
    yd = 4;
  } else {
    return false;
  }
  if (!digits_at(date, 0, yd, &y) || date[yd] != '/' || !digits_at(date, yd + 1, 2, &mo) ||
      date[yd + 3] != '/' || !digits_at(date, yd + 4, 2, &d)) {
    return false;
  }
  if (yd == 2) y += y < 80 ? 2000 : 1900;
  if (time.size() != 8 || !digits_at(time, 0, 2, &h) || time[2] != ':' ||
      !digits_at(time, 3, 2, &mi) || time[5] != ':' || !digits_at(time, 6, 2, &s)) {
    return false;
  }
  if (!valid_date_time(y, mo, d, h, mi, s)) return false;
  clock_offset = civil_seconds(y, mo, d, h, mi, s) - host_seconds();
  return true;
}

uint32_t State::switch_value(SwitchTable table, uint32_t item) const {
  const auto& t = switches[static_cast<int>(table)];
  auto it = t.find(item);
  return it == t.end() ? 0 : it->second;
}

std::array<uint32_t, 4> State::combi_words(uint32_t group) const {
  auto it = combi.find(group);
  if (it != combi.end()) return it->second;
  return {0x1000 + group, 0x2000 + group, 0x3000 + group, 0x4000 + group};
}

uint32_t State::status_word(uint32_t item) const {
  auto it = status.find(item);
  return it == status.end() ? 0 : it->second;
}

Outcome State::execute(const Command& cmd) {
  const std::string& id = cmd.id;
  const std::string& w = cmd.word;
  auto u = [&](size_t i) { return static_cast<uint32_t>(cmd.values[i]); };
  Outcome out;

  if (w == "GetTime") {
    // Blank-separated on purpose: the date and time keep their '/' and ':'.
    out.reply = ok_reply(id, {clock_text()});
  } else if (w == "SetTime") {
    out.reply = set_clock(cmd.fields[0], cmd.fields[1]) ? ok_reply(id, {}) : ng_reply(id);
  } else if (w == "CamSwGet" || w == "HDSwGet" || w == "JpegSwGet") {
    SwitchTable t = w == "CamSwGet"  ? SwitchTable::kCamera
                    : w == "HDSwGet" ? SwitchTable::kDisk
                                     : SwitchTable::kJpeg;
    int width = t == SwitchTable::kJpeg ? 4 : 2;
    out.reply = ok_reply(id, {hex_text(u(0), 6), hex_text(switch_value(t, u(0)), width)});
  } else if (w == "CamSwSet" || w == "HDSwSet" || w == "JpegSwSet") {
    SwitchTable t = w == "CamSwSet"  ? SwitchTable::kCamera
                    : w == "HDSwSet" ? SwitchTable::kDisk
                                     : SwitchTable::kJpeg;
    int width = t == SwitchTable::kJpeg ? 4 : 2;
    switches[static_cast<int>(t)][u(0)] = u(1);
    out.reply = ok_reply(id, {hex_text(u(0), 2), hex_text(switch_value(t, u(0)), width)});
  } else if (w == "CombiSwSet") {
    // The first word names the combination group, the other four are its settings.
    combi[u(0)] = {u(1), u(2), u(3), u(4)};
    out.reply = ok_reply(id, {"00", hex_text(u(0), 4)});
  } else if (w == "CombiSwGet") {
    // The first field names the group; the others carry the client's current values and
    // are not used. Tokens 2..5 are the group's 2nd..5th words in order.
    auto g = combi_words(u(0));
    out.reply =
        ok_reply(id, {hex_text(g[0], 4), hex_text(g[1], 4), hex_text(g[2], 4), hex_text(g[3], 4)});
  } else if (w == "SendMenu") {
    out.block = menu_block(u(0));
    out.reply = ok_reply(id, {hex_text(static_cast<uint32_t>(out.block.size()), 1)});
    out.trigger = "dummy\n";
  } else if (w == "SendStatus") {
    out.reply = ok_reply(id, {hex_text(u(0), 2), hex_text(status_word(u(0)), 4)});
  } else if (w == "ControlPlay") {
    play.control = u(0);
    status[0x01] = u(0);
    out.reply = ok_reply(id, {hex_text(play.control, 2)});
  } else if (w == "PlaySearch") {
    for (size_t i = 0; i < play.search.size(); ++i) {
      play.search[i] = static_cast<int32_t>(cmd.values[i]);
    }
    const auto& f = play.search;
    if (!valid_date_time(f[0], f[1], f[2], f[3], f[4], f[5])) {
      play.search_result = 2;
    } else {
      int64_t t = civil_seconds(f[0], f[1], f[2], f[3], f[4], f[5]);
      const int* r = kFirstRecording;
      int64_t first = civil_seconds(r[0], r[1], r[2], r[3], r[4], r[5]);
      play.search_result = t >= first && t <= host_seconds() + clock_offset ? 0 : 1;
    }
    out.reply = ok_reply(id, {hex_text(static_cast<uint32_t>(play.search_result), 2)});
  } else if (w == "SetPlayPointer") {
    play.pointer = {u(0), u(1)};
    out.reply = ok_reply(id, {hex_text(u(0), 8)});
  } else if (w == "ReadHddList") {
    // Fields: first entry and number of entries wanted; the reply counts those that exist.
    play.hdd_list = {u(0), u(1)};
    uint32_t left = u(0) < kHddListEntries ? kHddListEntries - u(0) : 0;
    out.reply = ok_reply(id, {hex_text(std::min(left, u(1)), 8)});
  } else if (w == "GetPlayList") {
    out.block = play_list_block(u(0), recording);
    out.reply = ok_reply(id, {hex_text(static_cast<uint32_t>(out.block.size()), 1)});
    // Size 0: the client sends no trigger and waits for nothing.
    if (!out.block.empty()) out.trigger = "JpegSendStart\n";
  } else if (w == "ReBoot") {
    play = PlayState{};
    status[0x01] = 0;
    out.reply = ok_reply(id, {"00"});
    out.reboot = true;
  } else if (w == "MemGet") {
    // The 24-bit address is bank × 10000h + offset, as MemSet names it.
    auto& s = stores[static_cast<int>(Store::kMemory)];
    auto it = s.find({u(0), 0, 0});
    out.reply = ok_reply(id, {hex_text(u(0), 6), hex_text(it == s.end() ? 0 : it->second, 4)});
  } else if (w == "MemSet") {
    stores[static_cast<int>(Store::kMemory)][{u(0) * 0x10000 + u(1), 0, 0}] = u(2);
    out.reply = ok_reply(id, {hex_text(u(0), 2), hex_text(u(2), 4)});
  } else if (w == "I2cGet") {
    auto& s = stores[static_cast<int>(Store::kI2c)];
    auto it = s.find({u(0), u(1), 0});
    out.reply = ok_reply(id, {hex_text(u(0), 6), hex_text(it == s.end() ? 0 : it->second, 4)});
  } else if (w == "I2cSet") {
    stores[static_cast<int>(Store::kI2c)][{u(0), u(1), 0}] = u(2);
    out.reply = ok_reply(id, {hex_text(u(0), 4), hex_text(u(2), 4)});
  } else if (w == "NvcGet") {
    auto& s = stores[static_cast<int>(Store::kNvc)];
    auto it = s.find({u(0), u(1), u(2)});
    out.reply = ok_reply(id, {hex_text(u(0), 4), hex_text(it == s.end() ? 0 : it->second, 4)});
  } else if (w == "NvcSet") {
    stores[static_cast<int>(Store::kNvc)][{u(0), u(1), u(2)}] = u(3);
    out.reply = ok_reply(id, {hex_text(u(0), 4), hex_text(u(3), 4)});
  } else if (w == "SendUpdate") {
    if (u(1) == 0 || u(1) > kMaxUpdateBytes) {
      out.reply = ng_reply(id);
    } else {
      out.reply = ok_reply(id, {hex_text(u(0), 2), hex_text(u(1), 8)});
      out.upload_length = u(1);
    }
  } else {
    out.reply = ng_reply(id);
  }
  return out;
}

std::string menu_block(uint32_t menu) {
  // Menus 00..07 exist; each is a text of numbered items, longer for higher numbers.
  static const char* const kNames[] = {"SYSTEM", "CAMERA",  "RECORD",  "SCHEDULE",
                                       "ALARM",  "NETWORK", "DISPLAY", "DISK"};
  if (menu >= 8) return {};
  char buf[96];
  std::snprintf(buf, sizeof buf, "MENU %02X %s\r\n", menu, kNames[menu]);
  std::string out = buf;
  int items = 4 + static_cast<int>(menu) * 3;
  for (int i = 1; i <= items; ++i) {
    std::snprintf(buf, sizeof buf, "ITEM %02X %s-%02d = %04X\r\n", i, kNames[menu], i,
                  (menu << 8) | static_cast<unsigned>(i));
    out += buf;
  }
  out += "END\r\n";
  return out;
}

namespace {

// The first and the last recorded second of the recording, as civil times.
void recorded_stretch(const RecordingOptions& r, CivilTime* first, CivilTime* last) {
  *first = r.start;
  const int64_t end = civil_seconds(r.start.year, r.start.month, r.start.day, r.start.hour,
                                    r.start.minute, r.start.second) +
                      std::max(r.seconds, 1) - 1;
  const int64_t day = end >= 0 ? end / 86400 : (end - 86399) / 86400;
  const int64_t in_day = end - day * 86400;
  civil_from_days(day, &last->year, &last->month, &last->day);
  last->hour = static_cast<int>(in_day / 3600);
  last->minute = static_cast<int>(in_day % 3600 / 60);
  last->second = static_cast<int>(in_day % 60);
}

std::string time_text(const CivilTime& t, char date_sep, char between) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d%c%02d%c%02d%c%02d:%02d:%02d", t.year, date_sep, t.month,
                date_sep, t.day, between, t.hour, t.minute, t.second);
  return buf;
}

}  // namespace

std::string play_list_block(uint32_t list, const RecordingOptions& recording) {
  // Lists 00..0F exist, one per channel (CH01 is channel 0): the channel's recording, one
  // line, as downloads and searches find it.
  if (list >= 16) return {};
  char buf[128];
  std::snprintf(buf, sizeof buf, "LIST %02X\r\n", list);
  std::string out = buf;
  if ((recording.video_channels >> list & 1) != 0) {
    CivilTime first, last;
    recorded_stretch(recording, &first, &last);
    std::snprintf(buf, sizeof buf, "0001 CH%02u %s %s\r\n", list + 1,
                  time_text(first, '/', ' ').c_str(), time_text(last, '/', ' ').c_str());
    out += buf;
  }
  out += "END\r\n";
  return out;
}

std::vector<std::string> recorded_ranges(const RecordingOptions& recording) {
  CivilTime first, last;
  recorded_stretch(recording, &first, &last);
  std::vector<std::string> lines;
  for (uint32_t ch = 0; ch < 16; ++ch) {
    if ((recording.video_channels >> ch & 1) == 0) continue;
    const bool audio = ch < 4 && (recording.audio_channels >> ch & 1) != 0;
    lines.push_back("channel " + std::to_string(ch) + ": " + time_text(first, '-', 'T') + " .. " +
                    time_text(last, '-', 'T') + (audio ? ", video and audio" : ", video"));
  }
  return lines;
}

}  // namespace virazav::sim::detail
