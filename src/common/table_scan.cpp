#include "common/table_scan.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "common/errors.h"

namespace varpair {

namespace {

constexpr ByteTables make_byte_tables() {
  ByteTables t{};
  for (int b = 0; b < 256; ++b) {
    t.klass[b] = kTokenByte;
    t.code[b] = kMissingCode;
  }
  t.klass[static_cast<unsigned char>(' ')] = kSpaceByte;
  t.klass[static_cast<unsigned char>('\t')] = kSpaceByte;
  t.klass[static_cast<unsigned char>('\v')] = kSpaceByte;
  t.klass[static_cast<unsigned char>('\f')] = kSpaceByte;
  t.klass[static_cast<unsigned char>('\n')] = kLineFeed;
  t.klass[static_cast<unsigned char>('\r')] = kCarriageReturn;
  t.code[static_cast<unsigned char>('0')] = 0;
  t.code[static_cast<unsigned char>('1')] = 1;
  t.code[static_cast<unsigned char>('2')] = 2;
  return t;
}

// What one piece of the text contributes: pieces start at offset 0 or right after a line feed,
// so lines never straddle two pieces except the one that runs to the end of the text.
struct PieceCount {
  std::uint64_t terminators = 0;
  std::uint64_t most_tokens = 0;
  std::vector<std::uint64_t> line_starts;  // starts made by this piece's terminators
};

PieceCount count_piece(const unsigned char* text, std::uint64_t size, std::uint64_t begin, std::uint64_t end) {
  PieceCount out;
  std::uint64_t tokens = 0;
  std::uint64_t after_space = 1;  // the previous byte was white space or a line start
  for (std::uint64_t p = begin; p < end; ++p) {
    const std::uint8_t k = kByteTables.klass[text[p]];
    if (k >= kLineFeed) {
      after_space = 1;
      if (k == kCarriageReturn && p + 1 < size && text[p + 1] == '\n') continue;  // CR of a CRLF
      ++out.terminators;
      out.most_tokens = std::max(out.most_tokens, tokens);
      tokens = 0;
      if (p + 1 < size) out.line_starts.push_back(p + 1);
      continue;
    }
    const std::uint64_t is_token = k == kTokenByte;
    tokens += is_token & after_space;
    after_space = is_token ^ 1;
  }
  out.most_tokens = std::max(out.most_tokens, tokens);
  return out;
}

// Piece boundaries: roughly equal parts, each moved forward to just after a line feed.
std::vector<std::uint64_t> piece_bounds(const char* text, std::uint64_t size, std::size_t wanted) {
  std::vector<std::uint64_t> bounds{0};
  for (std::size_t i = 1; i < wanted; ++i) {
    std::uint64_t at = size / wanted * i;
    if (at <= bounds.back()) continue;
    const void* lf = std::memchr(text + at, '\n', size - at);
    if (lf == nullptr) break;
    at = static_cast<std::uint64_t>(static_cast<const char*>(lf) - text) + 1;
    if (at < size && at > bounds.back()) bounds.push_back(at);
  }
  bounds.push_back(size);
  return bounds;
}

}  // namespace

const ByteTables kByteTables = make_byte_tables();

TableShape scan_table(const char* text, std::uint64_t size) {
  TableShape shape;
  if (size == 0) return shape;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);

  constexpr std::uint64_t kMinPiece = 1 << 20;
  WorkerPool& pool = WorkerPool::shared();
  const std::size_t wanted =
      static_cast<std::size_t>(std::min<std::uint64_t>(4ULL * pool.concurrency(), size / kMinPiece + 1));
  const std::vector<std::uint64_t> bounds = piece_bounds(text, size, wanted);
  std::vector<PieceCount> pieces(bounds.size() - 1);
  pool.run(pieces.size(), [&](std::size_t i) { pieces[i] = count_piece(bytes, size, bounds[i], bounds[i + 1]); });

  std::uint64_t terminators = 0;
  std::uint64_t most_tokens = 0;
  std::size_t starts = 1;
  for (const PieceCount& piece : pieces) {
    terminators += piece.terminators;
    most_tokens = std::max(most_tokens, piece.most_tokens);
    starts += piece.line_starts.size();
  }
  const unsigned char last = bytes[size - 1];
  const std::uint64_t rows = terminators + (last != '\n' && last != '\r' ? 1 : 0);
  constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());
  if (rows > kMax) throw InputError("Too many rows (SNPs) in one table: " + std::to_string(rows));
  if (most_tokens > kMax) throw InputError("Too many samples on one line: " + std::to_string(most_tokens));

  shape.rows = static_cast<std::int32_t>(rows);
  shape.columns = static_cast<std::int32_t>(most_tokens);
  shape.line_starts.reserve(starts);
  shape.line_starts.push_back(0);
  for (const PieceCount& piece : pieces)
    shape.line_starts.insert(shape.line_starts.end(), piece.line_starts.begin(), piece.line_starts.end());
  return shape;
}

namespace {

bool is_integer(const std::string& t) {
  std::size_t k = t.size() > 1 && t[0] == '-' ? 1 : 0;
  if (k == t.size()) return false;
  for (; k < t.size(); ++k)
    if (t[k] < '0' || t[k] > '9') return false;
  return true;
}

bool is_number(const std::string& t) {
  if (t.empty()) return false;
  char* end = nullptr;
  std::strtod(t.c_str(), &end);
  return end == t.c_str() + t.size();
}

// A variant's or sample's ID, as a table's token never is: a table holds 0, 1 or 2 (with decimals,
// "1.0") and missing values, which are short or spelled alike ("N", "-9", "NA", "nan", "--", ".").
// Numeric IDs of two digits or more ("1001") are IDs.
bool is_id(const std::string& t) {
  if (t.size() < 2 || t[0] == '-' || t[0] == '.' || (t[0] >= '0' && t[0] <= '2' && t[1] == '.')) return false;
  std::string lower;
  for (const char c : t) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower == "na" || lower == "nan" || lower == "nn" || lower == "null" || lower == "none" || lower == "missing" ||
      lower == "n/a" || lower == "#n/a" || lower == "nc" || lower == "xx" || lower == "00" || lower == "99")
    return false;
  return std::any_of(t.begin(), t.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

bool is_allele(const std::string& t) {
  if (t.empty() || t.size() > 64) return false;
  for (const char c : t)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '*' && c != '<' && c != '>')
      return false;
  return true;
}

// A .bim line: CHR ID CM BP A1 A2; a .fam line: FID IID FATHER MOTHER SEX PHENOTYPE, each with an
// ID in its second column (a table there holds a genotype or a missing value). A .bim's variants
// may be unnamed ("."), told from a table by a base-pair position of three digits or more, which no
// table token is.
bool bim_line(const std::vector<std::string>& f) {
  const auto position = [](const std::string& t) { return t.size() >= 3 && t[0] != '-' && is_integer(t); };
  return f.size() == 6 && (is_id(f[1]) || (f[1] == "." && position(f[3]))) && is_number(f[2]) && is_integer(f[3]) &&
         is_allele(f[4]) && is_allele(f[5]);
}

bool fam_line(const std::vector<std::string>& f) {
  return f.size() == 6 && is_id(f[1]) && (f[4] == "0" || f[4] == "1" || f[4] == "2") &&
         (is_number(f[5]) || f[5] == "NA");
}

}  // namespace

void check_text_table(const char* data, std::uint64_t size, const std::string& path) {
  const auto starts = [&](const char* magic, std::size_t n) { return size >= n && std::memcmp(data, magic, n) == 0; };
  if (starts("\x1f\x8b", 2))
    throw InputError(path +
                     " is compressed (gzip or BGZF), which a text table is not; a compressed VCF is read "
                     "by the name .vcf.gz or .vcf.bgz");
  if (starts("BCF\x02", 4)) throw InputError(path + " looks like a BCF: name it .bcf");
  if (starts("\x6c\x1b", 2))
    throw InputError(path + " is the .bed of a PLINK fileset: name it .bed, or give the prefix");
  const std::size_t skip = starts("\xEF\xBB\xBF", 3) ? 3 : 0;
  if (size >= skip + 16 && std::memcmp(data + skip, "##fileformat=VCF", 16) == 0)
    throw InputError(path + " looks like a VCF: name it .vcf (or .vcf.gz, .vcf.bgz, .bcf)");
  // The first few lines, split on white space.
  std::vector<std::vector<std::string>> lines;
  std::vector<std::string> fields;
  std::string token;
  const std::uint64_t end = size < (1u << 16) ? size : (1u << 16);
  for (std::uint64_t k = skip; k < end && lines.size() < 5; ++k) {
    const char c = data[k];
    if (c == '\n' || c == '\r' || c == ' ' || c == '\t') {
      if (!token.empty()) fields.push_back(token), token.clear();
      if ((c == '\n' || c == '\r') && !fields.empty()) lines.push_back(std::move(fields)), fields.clear();
    } else {
      token += c;
    }
  }
  if (end == size && lines.size() < 5) {  // a last line without its line end
    if (!token.empty()) fields.push_back(token);
    if (!fields.empty()) lines.push_back(std::move(fields));
  }
  if (lines.empty()) return;
  // A .fam line can pass for a .bim line of numeric alleles ("s0 s0 0 0 0 2"): a .bim shows itself by
  // letters in its alleles or a base-pair position of three digits or more, a .fam does not.
  const auto telling = [](const std::vector<std::string>& f) {
    bool letters = false;
    for (const char c : f[4] + f[5]) letters = letters || std::isalpha(static_cast<unsigned char>(c));
    return letters || f[3].size() >= 3;
  };
  // A fileset's IDs differ line to line (but a .bim's unnamed "."); a table's missing value repeats.
  std::vector<std::string> ids;
  for (const auto& f : lines)
    if (f.size() > 1 && f[1] != ".") ids.push_back(f[1]);
  std::sort(ids.begin(), ids.end());
  if (std::adjacent_find(ids.begin(), ids.end()) != ids.end()) return;
  bool bim = true, clearly_bim = true, fam = true;
  for (const auto& f : lines) {
    bim = bim && bim_line(f);
    clearly_bim = clearly_bim && bim_line(f) && telling(f);
    fam = fam && fam_line(f);
  }
  if (clearly_bim || (bim && !fam))
    throw InputError(path + " is the .bim of a PLINK fileset: give the .bed or the prefix");
  if (fam) throw InputError(path + " is the .fam of a PLINK fileset: give the .bed or the prefix");
}

std::string check_calls(std::uint64_t genotyped, std::int32_t rows, std::int32_t samples, const std::string& what) {
  const std::uint64_t calls = static_cast<std::uint64_t>(rows) * static_cast<std::uint64_t>(samples);
  if (genotyped == 0)
    throw InputError(what + " has no genotypes: all its " + std::to_string(calls) + " calls (" + std::to_string(rows) +
                     " variants, " + std::to_string(samples) + " samples) are missing");
  if (2 * genotyped >= calls) return "";
  char share[16];
  std::snprintf(share, sizeof share, "%.1f",
                100.0 * static_cast<double>(calls - genotyped) / static_cast<double>(calls));
  return "Warning: " + what + ": " + share + " % of its " + std::to_string(calls) + " calls are missing";
}

void require_genotypes(const TableShape& shape, const std::string& path) {
  if (shape.rows == 0) throw InputError("The table has no SNPs (no lines): " + path);
  if (shape.columns == 0) throw InputError("The table has no samples (every line is empty): " + path);
}

}  // namespace varpair
