// Setting a model's four device constants. The symbols are each unit's own (a __constant__ symbol is
// visible only inside its unit), so every unit instantiates this with its symbols.
#pragma once

#include <cstdint>

#include "device/runtime.h"
#include "interaction/interaction_model.h"

namespace varpair {

template <class ControlColumns, class CaseColumns, class ChiSquare, class OddsRatio>
cudaError_t set_model_constant(ModelConstant which, std::uint32_t bits, const ControlColumns& control_columns,
                               const CaseColumns& case_columns, const ChiSquare& chi_square,
                               const OddsRatio& odds_ratio) {
  static_assert(sizeof(ControlColumns) == 4 && sizeof(CaseColumns) == 4 && sizeof(ChiSquare) == 4 &&
                sizeof(OddsRatio) == 4);
  switch (which) {
    case ModelConstant::kControlColumns:
      return cudaMemcpyToSymbol(control_columns, &bits, 4, 0, cudaMemcpyHostToDevice);
    case ModelConstant::kCaseColumns: return cudaMemcpyToSymbol(case_columns, &bits, 4, 0, cudaMemcpyHostToDevice);
    case ModelConstant::kChiSquareThreshold: return cudaMemcpyToSymbol(chi_square, &bits, 4, 0, cudaMemcpyHostToDevice);
    case ModelConstant::kOddsRatioThreshold: return cudaMemcpyToSymbol(odds_ratio, &bits, 4, 0, cudaMemcpyHostToDevice);
  }
  return cudaErrorInvalidValue;
}

}  // namespace varpair
