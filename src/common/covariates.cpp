#include "common/covariates.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>

#include "common/errors.h"

namespace varpair {

namespace {

bool is_missing(const std::string& token) { return token == "NA" || token == "." || token == "-9"; }

// Decimal notation only: [+-] digits [. digits] [e [+-] digits], at least one digit before the
// exponent. strtod would also take hexadecimal (0x10), "inf" and "nan".
bool is_decimal(const std::string& token) {
  std::size_t k = token[0] == '+' || token[0] == '-' ? 1 : 0, digits = 0;
  const auto run = [&] {
    std::size_t n = 0;
    while (k < token.size() && token[k] >= '0' && token[k] <= '9') ++k, ++n;
    return n;
  };
  digits += run();
  if (k < token.size() && token[k] == '.') ++k, digits += run();
  if (digits == 0) return false;
  if (k < token.size() && (token[k] == 'e' || token[k] == 'E')) {
    ++k;
    if (k < token.size() && (token[k] == '+' || token[k] == '-')) ++k;
    if (run() == 0) return false;
  }
  return k == token.size();
}


}  // namespace

double read_value(const std::string& token, const std::string& where) {
  if (is_missing(token)) return std::numeric_limits<double>::quiet_NaN();
  if (token.empty() || !is_decimal(token))
    throw InputError(where + ": '" + token + "' is not a number (NA, . and -9 are missing values)");
  errno = 0;
  const double value = std::strtod(token.c_str(), nullptr);
  if (errno == ERANGE)
    throw InputError(where + ": '" + token +
                     "' lies beyond double precision (0, or a magnitude of about 2.2e-308 to 1.8e308)");
  return value;
}

namespace {

std::vector<std::string> split_fields(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> fields;
  for (std::string word; in >> word;) fields.push_back(word);
  return fields;
}

}  // namespace

CovariateFile CovariateFile::read(const std::string& path, const std::vector<std::string>& keep, const char* kind) {
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) throw InputError("Failed to open file: " + path + reason(errno));
  CovariateFile file;
  file.path_ = path;
  std::vector<std::string> header;  // every column's name
  std::vector<std::size_t> kept;    // their fields
  std::size_t id_fields = 2;
  std::map<std::string, std::size_t> seen;
  std::size_t number = 0;
  const auto at = [&](std::size_t line) { return path + ": line " + std::to_string(line); };
  for (std::string line; std::getline(in, line);) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (number == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
    std::vector<std::string> f = split_fields(line);
    if (f.empty()) continue;
    if (header.empty()) {
      const std::string first = f[0];
      const bool named = first == "#FID" || first == "FID" || first == "#IID" || first == "IID";
      if (named) {
        id_fields = first == "#IID" || first == "IID" ? 1 : 2;
        if (id_fields == 2 && (f.size() < 2 || f[1] != "IID"))
          throw InputError(at(number) + ": a header that starts with FID names IID second");
        // -covar_name picks columns by name, so each name must be its own.
        for (std::size_t c = 1; c < f.size(); ++c)
          for (std::size_t e = 0; e < c; ++e)
            if (f[c] == f[e])
              throw InputError(at(number) + ": columns " + std::to_string(e + 1) + " and " + std::to_string(c + 1) +
                               " have the same name, '" + f[c] + "'; each column needs its own");
        header = f;
      } else {
        if (f.size() < 3) throw InputError(at(number) + ": a line is FID IID and at least one covariate");
        header = {"FID", "IID"};
        for (std::size_t c = 2; c < f.size(); ++c) header.push_back("COV" + std::to_string(c - 1));
      }
      file.has_family_ = id_fields == 2;
      if (keep.empty()) {
        for (std::size_t c = id_fields; c < header.size(); ++c) kept.push_back(c);
      } else {
        for (const std::string& name : keep) {
          std::size_t c = id_fields;
          while (c < header.size() && header[c] != name) ++c;
          if (c == header.size()) throw InputError(path + ": there is no " + kind + " column " + name);
          kept.push_back(c);
        }
      }
      if (kept.empty()) throw InputError(path + ": the file names no " + kind);
      for (std::size_t c : kept) file.names_.push_back(header[c]);
      if (named) continue;
    }
    if (f.size() != header.size())
      throw InputError(at(number) + " has " + std::to_string(f.size()) + " fields, the header " +
                       std::to_string(header.size()));
    const SampleId id{id_fields == 2 ? f[0] : "", f[id_fields - 1]};
    const std::string key = id.family + "\t" + id.individual;
    if (!seen.emplace(key, number).second)
      throw InputError(at(number) + ": sample " + (id.family.empty() ? "" : id.family + " ") + id.individual +
                       " appears twice (also line " + std::to_string(seen[key]) + ")");
    bool complete = true;
    for (std::size_t c : kept) {
      const double value =
          read_value(f[c], at(number) + ", column " + std::to_string(c + 1) + " (" + header[c] + ")");
      if (std::isnan(value)) complete = false;
      file.values_.push_back(value);
    }
    file.ids_.push_back(id);
    file.complete_.push_back(complete ? 1 : 0);
  }
  if (header.empty()) throw InputError(path + ": the file is empty");
  return file;
}

std::vector<std::int32_t> CovariateFile::matched_rows(const GenotypeSource& source) const {
  const bool by_family = has_family_ && source.format() == GenotypeFormat::kPlink;
  std::map<std::string, std::int32_t> rows;
  std::map<std::string, bool> twice;
  for (std::size_t r = 0; r < ids_.size(); ++r) {
    const std::string key = by_family ? ids_[r].family + "\t" + ids_[r].individual : ids_[r].individual;
    if (!rows.emplace(key, static_cast<std::int32_t>(r)).second) twice[key] = true;
  }
  std::vector<std::int32_t> out(static_cast<std::size_t>(source.samples()), -1);
  for (std::size_t s = 0; s < source.sample_ids().size(); ++s) {
    const SampleId& id = source.sample_ids()[s];
    const std::string key = by_family ? id.family + "\t" + id.individual : id.individual;
    const auto it = rows.find(key);
    if (it == rows.end()) continue;
    if (twice.count(key))
      throw InputError(path_ + ": sample " + id.individual + " appears on two lines (with other FIDs)");
    out[s] = it->second;
  }
  return out;
}

std::vector<std::int32_t> CovariateFile::complete_rows(const GenotypeSource& source) const {
  std::vector<std::int32_t> rows = matched_rows(source);
  for (std::int32_t& r : rows)
    if (r >= 0 && !complete(r)) r = -1;
  return rows;
}

}  // namespace varpair
