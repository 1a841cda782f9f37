#pragma once
// Failures of file and folder operations (creating, opening, deleting).
#include "common/core/AppError.h"

namespace kav {

class EFileOperationError : public EKavError {
public:
  using EKavError::EKavError;
};

} // namespace kav
