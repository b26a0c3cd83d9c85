#include "extensions/case_folding.h"

#include <unicode/bytestream.h>
#include <unicode/casemap.h>
#include <unicode/normalizer2.h>
#include <unicode/stringpiece.h>

#include <cstdint>
#include <limits>
#include <optional>

#include "extensions/text.h"

namespace qu {

namespace {

void appendLowerAscii(std::string& out, std::string_view text) {
  for (char c : text) out.push_back((c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c);
}

// Decomposition, full case folding, decomposition: folding can yield
// characters that decompose or combining marks out of canonical order.
std::optional<std::string> foldWellFormed(std::string_view text) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
  if (U_FAILURE(status)) return std::nullopt;
  const auto piece = [](const std::string& s) {
    return icu::StringPiece(s.data(), static_cast<std::int32_t>(s.size()));
  };

  std::string decomposed;
  icu::StringByteSink<std::string> toDecomposed(&decomposed);
  nfd->normalizeUTF8(0, icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())),
                     toDecomposed, nullptr, status);
  std::string folded;
  icu::StringByteSink<std::string> toFolded(&folded);
  icu::CaseMap::utf8Fold(U_FOLD_CASE_DEFAULT, piece(decomposed), toFolded, nullptr, status);
  std::string result;
  icu::StringByteSink<std::string> toResult(&result);
  nfd->normalizeUTF8(0, piece(folded), toResult, nullptr, status);
  if (U_FAILURE(status)) return std::nullopt;
  return result;
}

// Length of the well-formed UTF-8 at the start of `text`.
std::size_t wellFormedLength(std::string_view text) {
  std::size_t at = 0;
  while (std::size_t length = utf8SequenceLength(text.substr(at))) at += length;
  return at;
}

// Length of the bytes at the start of `text` that are no part of well-formed UTF-8.
std::size_t illFormedLength(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size() && utf8SequenceLength(text.substr(at)) == 0) ++at;
  return at;
}

}  // namespace

void foldCase(std::string_view text, std::string& folded) {
  // ASCII, by far the most common text, needs no tables: lower-case it in
  // one pass that also finds out whether it is ASCII.
  folded.assign(text);
  bool ascii = true;
  for (char& c : folded) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x80) {
      ascii = false;
    } else if (byte >= 'A' && byte <= 'Z') {
      c = static_cast<char>(byte - 'A' + 'a');
    }
  }
  // Text too long for the library's lengths stays compared by its bytes.
  if (ascii || text.size() > std::numeric_limits<std::int32_t>::max()) return;

  folded.clear();
  while (!text.empty()) {
    const std::string_view run = text.substr(0, wellFormedLength(text));
    if (!run.empty()) {
      if (std::optional<std::string> unicode = foldWellFormed(run)) {
        folded += *unicode;
      } else {
        appendLowerAscii(folded, run);
      }
      text.remove_prefix(run.size());
    }
    const std::size_t bytes = illFormedLength(text);
    folded.append(text.substr(0, bytes));
    text.remove_prefix(bytes);
  }
}

std::string foldCase(std::string_view text) {
  std::string folded;
  foldCase(text, folded);
  return folded;
}

int compareIgnoringCase(std::string_view a, std::string_view b) {
  // std::string compares its characters as unsigned bytes, which orders
  // UTF-8 by code point.
  const int order = foldCase(a).compare(foldCase(b));
  return (order > 0) - (order < 0);
}

bool containsIgnoringCase(std::string_view text, std::string_view part) {
  return foldCase(text).find(foldCase(part)) != std::string::npos;
}

}  // namespace qu
