// Writing and reading the export manifest, with SHA-256 digests from OpenSSL's libcrypto
// through its EVP interface.
#include "manifest.h"

#include <openssl/evp.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

namespace virazav::cli::exporting {
namespace {

namespace fs = std::filesystem;

constexpr const char* kMagic = "virazav-export-manifest 1";
constexpr size_t kHashBlock = size_t{1} << 20;

struct DigestDeleter {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

bool is_hex_digest(const std::string& s) {
  if (s.size() != 64) return false;
  for (char c : s) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

}  // namespace

bool sha256_of_file(const std::string& path, int64_t offset, int64_t length, std::string* hex,
                    int64_t* hashed, std::string* error) {
  std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "rb"));
  if (f == nullptr) {
    *error = path + ": cannot open: " + std::strerror(errno);
    return false;
  }
  if (std::fseek(f.get(), offset, SEEK_SET) != 0) {
    *error = path + ": cannot seek to " + std::to_string(offset);
    return false;
  }
  std::unique_ptr<EVP_MD_CTX, DigestDeleter> ctx(EVP_MD_CTX_new());
  if (ctx == nullptr || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1) {
    *error = "cannot set up SHA-256";
    return false;
  }
  std::vector<unsigned char> block(kHashBlock);
  int64_t done = 0;
  while (length < 0 || done < length) {
    size_t want = block.size();
    if (length >= 0 && static_cast<int64_t>(want) > length - done) {
      want = static_cast<size_t>(length - done);
    }
    const size_t got = std::fread(block.data(), 1, want, f.get());
    if (got > 0 && EVP_DigestUpdate(ctx.get(), block.data(), got) != 1) {
      *error = "SHA-256 failed";
      return false;
    }
    done += static_cast<int64_t>(got);
    if (got < want) {
      if (std::ferror(f.get())) {
        *error = path + ": read failed";
        return false;
      }
      if (length >= 0) {
        *error = path + ": ends after " + std::to_string(offset + done) + " bytes, before " +
                 std::to_string(offset + length);
        return false;
      }
      break;
    }
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int digest_size = 0;
  if (EVP_DigestFinal_ex(ctx.get(), digest, &digest_size) != 1) {
    *error = "SHA-256 failed";
    return false;
  }
  static const char kHex[] = "0123456789abcdef";
  hex->clear();
  for (unsigned int i = 0; i < digest_size; ++i) {
    hex->push_back(kHex[digest[i] >> 4]);
    hex->push_back(kHex[digest[i] & 15]);
  }
  if (hashed != nullptr) *hashed = done;
  return true;
}

std::string resolve_item_path(const std::string& manifest_path, const std::string& item_path) {
  const fs::path p(item_path);
  if (p.is_absolute()) return item_path;
  return (fs::path(manifest_path).parent_path() / p).lexically_normal().string();
}

bool write_manifest(const std::string& path, const std::string& first, const std::string& last,
                    std::vector<ManifestItem> items, std::string* error) {
  std::error_code ec;
  const fs::path folder = fs::absolute(fs::path(path), ec).parent_path();
  std::ostringstream text;
  text << kMagic << "\nfirst " << first << "\nlast " << last << "\n";
  for (ManifestItem& item : items) {
    int64_t hashed = 0;
    if (!sha256_of_file(item.path, item.offset, item.source ? item.length : -1, &item.sha256,
                        &hashed, error)) {
      return false;
    }
    item.length = hashed;
    // Paths count from the manifest's folder, so that the folder can move as a whole.
    const fs::path absolute = fs::absolute(fs::path(item.path), ec).lexically_normal();
    const fs::path relative = absolute.lexically_relative(folder);
    const std::string stored = relative.empty() ? absolute.string() : relative.string();
    if (item.source) {
      text << "source " << item.sha256 << " " << item.offset << " " << item.length << " " << stored
           << "\n";
    } else {
      text << "output " << item.sha256 << " " << item.length << " " << stored << "\n";
    }
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text.str();
  out.close();
  if (!out) {
    *error = path + ": cannot write: " + std::strerror(errno);
    return false;
  }
  return true;
}

bool read_manifest(const std::string& path, Manifest* out, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = path + ": cannot open: " + std::strerror(errno);
    return false;
  }
  std::string line;
  if (!std::getline(in, line) || line != kMagic) {
    *error = path + ": not an export manifest";
    return false;
  }
  Manifest m;
  int number = 1;
  while (std::getline(in, line)) {
    ++number;
    if (line.empty()) continue;
    const std::string bad = path + ":" + std::to_string(number) + ": malformed line";
    if (line.rfind("first ", 0) == 0) {
      m.first = line.substr(6);
      continue;
    }
    if (line.rfind("last ", 0) == 0) {
      m.last = line.substr(5);
      continue;
    }
    std::istringstream words(line);
    std::string kind;
    ManifestItem item;
    words >> kind >> item.sha256;
    if (kind == "source") {
      item.source = true;
      words >> item.offset;
    } else if (kind != "output") {
      *error = bad;
      return false;
    }
    words >> item.length;
    // The path is the rest of the line after one blank: it may hold blanks itself.
    if (!words || words.get() != ' ' || !std::getline(words, item.path) || item.path.empty() ||
        !is_hex_digest(item.sha256) || item.offset < 0 || item.length < 0) {
      *error = bad;
      return false;
    }
    m.items.push_back(item);
  }
  if (m.items.empty()) {
    *error = path + ": lists no files";
    return false;
  }
  *out = m;
  return true;
}

}  // namespace virazav::cli::exporting
