#include "common/sample_matching.h"

#include <cerrno>
#include <fstream>
#include <map>
#include <sstream>

#include "common/errors.h"

namespace varpair {

namespace {

std::string key_of(const SampleId& id, bool with_family) {
  return with_family ? id.family + "\t" + id.individual : id.individual;
}

std::string shown(const std::string& key) {
  std::string text = key;
  for (char& c : text)
    if (c == '\t') c = ' ';
  return text;
}

}  // namespace

SampleMatch match_samples(const GenotypeSource& first, const std::string& first_path, const GenotypeSource& second,
                          const std::string& second_path) {
  SampleMatch m;
  if (first.sample_ids().empty() || second.sample_ids().empty()) {
    m.common = first.samples();
    return m;
  }
  const bool with_family = first.format() == GenotypeFormat::kPlink && second.format() == GenotypeFormat::kPlink;
  std::map<std::string, std::int32_t> in_second;
  for (std::size_t s = 0; s < second.sample_ids().size(); ++s) {
    const std::string key = key_of(second.sample_ids()[s], with_family);
    if (!in_second.emplace(key, static_cast<std::int32_t>(s)).second)
      throw InputError(second_path + ": sample " + shown(key) + " appears twice");
  }
  std::map<std::string, std::int32_t> in_first;
  m.by_id = true;
  std::vector<std::int32_t> picked_first, picked_second;
  for (std::size_t s = 0; s < first.sample_ids().size(); ++s) {
    const std::string key = key_of(first.sample_ids()[s], with_family);
    if (!in_first.emplace(key, static_cast<std::int32_t>(s)).second)
      throw InputError(first_path + ": sample " + shown(key) + " appears twice");
    const auto it = in_second.find(key);
    if (it == in_second.end()) continue;
    picked_first.push_back(static_cast<std::int32_t>(s));
    picked_second.push_back(it->second);
  }
  m.first = select_listed(std::move(picked_first));
  m.second = select_listed(std::move(picked_second));
  m.common = static_cast<std::int32_t>(m.first.samples.size());
  if (m.common == 0)
    throw InputError("No sample of " + first_path + " is in " + second_path + " (samples are matched by ID)");
  m.left_out_first = first.samples() - m.common;
  m.left_out_second = second.samples() - m.common;
  // The same samples in the same order: no selection at all.
  bool identity = m.left_out_first == 0 && m.left_out_second == 0;
  for (std::int32_t k = 0; identity && k < m.common; ++k) identity = m.second.samples[k] == k;
  if (identity) m.first.all = m.second.all = true;
  return m;
}

std::vector<Phenotype> read_phenotype_file(const std::string& path, const GenotypeSource& source,
                                           const std::string& source_path, std::int32_t& unmatched_lines) {
  std::ifstream in(path);
  if (!in.is_open()) throw InputError("Failed to open file: " + path + reason(errno));
  const bool plink = source.format() == GenotypeFormat::kPlink;
  std::map<std::string, std::int32_t> by_family, by_individual;
  for (std::size_t s = 0; s < source.sample_ids().size(); ++s) {
    by_family[key_of(source.sample_ids()[s], true)] = static_cast<std::int32_t>(s);
    by_individual[source.sample_ids()[s].individual] = static_cast<std::int32_t>(s);
  }
  std::vector<Phenotype> phenotypes(static_cast<std::size_t>(source.samples()), Phenotype::kNone);
  std::vector<std::int32_t> line_of(phenotypes.size(), 0);  // the line that gave each sample's phenotype
  std::map<std::string, std::int32_t> listed;               // each line's ID, as written
  unmatched_lines = 0;
  std::int32_t matched = 0, number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    std::istringstream fields(line);
    std::vector<std::string> f;
    for (std::string word; fields >> word;) f.push_back(word);
    if (f.empty()) continue;
    if (f.size() != 2 && f.size() != 3)
      throw InputError(path + ": line " + std::to_string(number) + " has " + std::to_string(f.size()) +
                       " fields; a -pheno line is \"FID IID PHENO\" or \"IID PHENO\"");
    const std::string& value = f.back();
    if (number == 1 && value.find_first_not_of("-+.0123456789eE") != std::string::npos) continue;  // a header
    const auto& table = f.size() == 3 && plink ? by_family : by_individual;
    const std::string key = f.size() == 3 && plink ? f[0] + "\t" + f[1] : f[f.size() - 2];
    // A sample listed twice would take its last line: refused, as in -covar and the .fam.
    const auto twice = [&](std::int32_t earlier) {
      return InputError(path + ": line " + std::to_string(number) + ": sample " +
                        (f.size() == 3 ? f[0] + " " + f[1] : f[0]) + " appears twice (also line " +
                        std::to_string(earlier) + ")");
    };
    if (const auto [seen, first] = listed.emplace((f.size() == 3 ? f[0] + "\t" : "\t") + f[f.size() - 2], number);
        !first)
      throw twice(seen->second);
    const auto it = table.find(key);
    if (it == table.end()) {
      ++unmatched_lines;
      continue;
    }
    std::int32_t& given = line_of[static_cast<std::size_t>(it->second)];
    if (given != 0) throw twice(given);  // the same sample by another form of its ID
    given = number;
    phenotypes[static_cast<std::size_t>(it->second)] = phenotype_of(value);
    ++matched;
  }
  if (matched == 0) throw InputError(path + ": no line names a sample of " + source_path);
  return phenotypes;
}

CaseControlSplit split_by_phenotype(const std::vector<Phenotype>& phenotypes, const std::string& phenotype_path) {
  CaseControlSplit split;
  std::vector<std::int32_t> cases, controls;
  for (std::size_t s = 0; s < phenotypes.size(); ++s) {
    if (phenotypes[s] == Phenotype::kCase)
      cases.push_back(static_cast<std::int32_t>(s));
    else if (phenotypes[s] == Phenotype::kControl)
      controls.push_back(static_cast<std::int32_t>(s));
    else
      ++split.left_out;
  }
  split.cases = select_listed(std::move(cases));
  split.controls = select_listed(std::move(controls));
  if (split.cases.samples.empty() || split.controls.samples.empty())
    throw InputError(phenotype_path + ": " + std::to_string(split.cases.samples.size()) + " cases and " +
                     std::to_string(split.controls.samples.size()) +
                     " controls by phenotype (2 case, 1 control); both are needed (phenotypes coded 0/1 read as "
                     "missing and control: code cases 2 and controls 1)");
  return split;
}

}  // namespace varpair
