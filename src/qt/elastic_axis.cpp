// SPDX-License-Identifier: MIT
#include "qt/elastic_axis.hpp"

#include <algorithm>

namespace ovk {

ElasticAxis::ElasticAxis(const std::vector<Span>& spans, double missing) {
    double length = 0;
    for (const Span& span : spans) length += std::max(0, span.to - span.from);
    if (missing <= 0 || length <= 0) return;
    const double share = std::min(missing / length, kMaxShrink);
    for (const Span& span : spans) {
        const double by = std::max(0, span.to - span.from) * share;
        spans_.push_back({span, by});
        taken_ += by;
    }
}

double ElasticAxis::map(double position) const {
    double mapped = position;
    for (const Shrinking& shrinking : spans_) {
        const Span& span = shrinking.span;
        if (position <= span.from) continue;
        const double through = std::min(1.0, (position - span.from) / (span.to - span.from));
        mapped -= shrinking.by * through;
    }
    return mapped;
}

}  // namespace ovk
