// Setting a model's four device constants. The symbols are each unit's own (a __constant__ symbol is
// visible only inside its unit), so every unit instantiates this with its symbols.
#pragma once

#include <cstdint>

#include "device/runtime.h"
#include "interaction/interaction_model.h"

namespace varpair {

// Sets one of the unit's four constants (given in ModelConstant order) from its 4 bytes.
template <auto& kControlColumns, auto& kCaseColumns, auto& kChiSquare, auto& kOddsRatio>
cudaError_t set_model_constant(ModelConstant which, std::uint32_t bits) {
  static_assert(sizeof kControlColumns == 4 && sizeof kCaseColumns == 4 && sizeof kChiSquare == 4 &&
                sizeof kOddsRatio == 4);
  switch (which) {
    case ModelConstant::kControlColumns:
      return cudaMemcpyToSymbol(kControlColumns, &bits, 4, 0, cudaMemcpyHostToDevice);
    case ModelConstant::kCaseColumns: return cudaMemcpyToSymbol(kCaseColumns, &bits, 4, 0, cudaMemcpyHostToDevice);
    case ModelConstant::kChiSquareThreshold: return cudaMemcpyToSymbol(kChiSquare, &bits, 4, 0, cudaMemcpyHostToDevice);
    case ModelConstant::kOddsRatioThreshold: return cudaMemcpyToSymbol(kOddsRatio, &bits, 4, 0, cudaMemcpyHostToDevice);
  }
  return cudaErrorInvalidValue;
}

}  // namespace varpair
