#pragma once

// Regular-step gradient descent over one pyramid level.

#include "imagelib/detail/registration_metric.h"

#include <string>

namespace KVEL {

struct LevelSearch {
    int level = 0, levels = 1;
    double step = 1;         // scaled units (millimetres)
    double minimumStep = 0;  // the level ends below it
    int iterations = 100;
    const std::function<bool(const RegistrationProgress&)>* progress = nullptr;
};

struct LevelOutcome {
    Transform transform;
    double metric = 0;
    int iterations = 0;
    std::string error;  // set on failure: no transform then
};

// Fewer samples than this inside both images leave nothing to measure.
constexpr long long kMinimumOverlap = 32;

LevelOutcome descend(const MetricEvaluator& metric, const ParameterModel& model, const Transform& start,
                     const LevelSearch& search);

}  // namespace KVEL
