// An independent LD computation for the tests: genotypes walked sample by sample from the table's
// tokens (not from the packed matrix), the haplotype counts by the table of the definition, and the
// EM written out step by step in single precision.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "device/float_math.h"

namespace varpair::test {

// Genotype codes of a table given as rows of tokens: 0, 1, 2, or 3 (missing, or past a short line).
using Genotypes = std::vector<std::vector<int>>;

struct ReferenceCounts {
  int nAB = 0, nAb = 0, naB = 0, nab = 0, nDH = 0, n = 0, genotyped = 0;
};

inline ReferenceCounts reference_counts(const std::vector<int>& x_row, const std::vector<int>& y_row) {
  ReferenceCounts c;
  for (std::size_t s = 0; s < x_row.size(); ++s) {
    const int x = x_row[s], y = y_row[s];
    c.n += 1;
    if (x == 3 || y == 3) continue;
    c.genotyped += 1;
    if (x == 0 && y == 0) c.nAB += 2;
    if (x == 0 && y == 1) c.nAB += 1, c.nAb += 1;
    if (x == 0 && y == 2) c.nAb += 2;
    if (x == 1 && y == 0) c.nAB += 1, c.naB += 1;
    if (x == 1 && y == 1) c.nDH += 1;
    if (x == 1 && y == 2) c.nAb += 1, c.nab += 1;
    if (x == 2 && y == 0) c.naB += 2;
    if (x == 2 && y == 1) c.naB += 1, c.nab += 1;
    if (x == 2 && y == 2) c.nab += 2;
  }
  return c;
}

struct ReferenceFrequencies {
  float AB, Ab, aB, ab;
};

inline ReferenceFrequencies reference_em(const ReferenceCounts& c) {
  const float two_n = static_cast<float>(2 * c.n) + 0.4f;
  float AB = (static_cast<float>(c.nAB) + 0.1f) / two_n;
  float Ab = (static_cast<float>(c.nAb) + 0.1f) / two_n;
  float aB = (static_cast<float>(c.naB) + 0.1f) / two_n;
  float ab = (static_cast<float>(c.nab) + 0.1f) / two_n;
  float previous = -1.0e9f;
  for (int i = 0; i < 20; ++i) {
    float eAB = static_cast<float>(c.nAB);
    float eAb = static_cast<float>(c.nAb);
    float eaB = static_cast<float>(c.naB);
    float eab = static_cast<float>(c.nab);
    const float dh = static_cast<float>(c.nDH);
    if (c.nDH >= 1) {
      const float coupling = AB * ab;
      const float repulsion = Ab * aB;
      const float theta = coupling / (coupling + repulsion);
      eAB = eAB + theta * dh;
      eab = eab + theta * dh;
      eAb = eAb + (1.0f - theta) * dh;
      eaB = eaB + (1.0f - theta) * dh;
    }
    float t = eAb + eAB;
    t = t + eaB;
    t = t + eab;
    AB = eAB / t;
    Ab = eAb / t;
    aB = eaB / t;
    ab = eab / t;
    float ll = static_cast<float>(c.nAB) * vp_logf(AB);
    ll = ll + static_cast<float>(c.nAb) * vp_logf(Ab);
    ll = ll + static_cast<float>(c.naB) * vp_logf(aB);
    ll = ll + static_cast<float>(c.nab) * vp_logf(ab);
    ll = ll + dh * vp_logf(AB * ab + Ab * aB);
    if (std::fabs(ll - previous) < 1.0e-8f) break;
    previous = ll;
  }
  return {AB, Ab, aB, ab};
}

inline float reference_r2(const ReferenceCounts& c) {
  if (c.n == 0 || c.genotyped == 0) return -1.0f;
  const ReferenceFrequencies p = reference_em(c);
  const float d = p.AB * p.ab - p.Ab * p.aB;
  const float pA = p.AB + p.Ab, pB = p.AB + p.aB;
  const float den = pA * (1.0f - pA) * pB * (1.0f - pB);
  if (den < 1.0e-8f) return 0.0f;
  return d * d / den;
}

inline float reference_dprime(const ReferenceCounts& c) {
  if (c.n == 0 || c.genotyped == 0) return -1.0f;
  const ReferenceFrequencies p = reference_em(c);
  const float pA = p.AB + p.Ab, pB = p.AB + p.aB;
  const float d = p.AB - pA * pB;
  float dmax;
  if (d > 0.0f)
    dmax = std::fmin(pA * (1.0f - pB), (1.0f - pA) * pB);
  else
    dmax = std::fmin(pA * pB, (1.0f - pA) * (1.0f - pB));
  if (dmax < 1.0e-8f) return 0.0f;
  const float value = std::fabs(d) / dmax;
  return value > 1.0f ? 1.0f : value;
}

// Parses a table's text the plain way: lines split at line feeds, tokens at white space, the
// genotype from a token's first character, short lines padded with missing genotypes.
inline Genotypes reference_genotypes(const std::string& text) {
  Genotypes rows;
  std::vector<int> row;
  std::string token;
  auto end_token = [&] {
    if (!token.empty()) row.push_back(token[0] == '0' ? 0 : token[0] == '1' ? 1 : token[0] == '2' ? 2 : 3);
    token.clear();
  };
  for (char ch : text) {
    if (ch == '\n') {
      end_token();
      rows.push_back(row);
      row.clear();
    } else if (ch == ' ' || ch == '\t' || ch == '\r' || ch == '\v' || ch == '\f') {
      end_token();
    } else {
      token += ch;
    }
  }
  end_token();
  if (!text.empty() && text.back() != '\n') rows.push_back(row);
  std::size_t width = 0;
  for (const auto& r : rows) width = std::max(width, r.size());
  for (auto& r : rows) r.resize(width, 3);
  return rows;
}

}  // namespace varpair::test
