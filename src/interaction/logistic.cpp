#include "interaction/logistic.h"

#include <cmath>
#include <limits>
#include <optional>

namespace varpair {

namespace {

constexpr int kMaxIterations = 100;
constexpr double kSeparatedEta = 27.6;  // |x b| beyond which p is within 1e-12 of 0 or 1

// X'WX, its lower triangle (all a Cholesky factorisation reads), as one symmetric rank update.
void information_of(const Eigen::MatrixXd& x, const Eigen::VectorXd& w, Eigen::MatrixXd& information) {
  information.setZero(x.cols(), x.cols());
  information.selfadjointView<Eigen::Lower>().rankUpdate((x.array().colwise() * w.array().sqrt()).matrix().transpose());
}

// A factorisation of full rank: each column adds to the span of those before it. L(k,k)^2 / I(k,k)
// is 1 - R^2 of column k on the earlier ones (in the weights' metric); rounding leaves a positive
// pivot where a column is a combination of others (a covariate constant over a record's samples).
bool full_rank(const Eigen::LLT<Eigen::MatrixXd>& llt, const Eigen::MatrixXd& information) {
  if (llt.info() != Eigen::Success) return false;
  for (Eigen::Index k = 0; k < information.cols(); ++k) {
    const double pivot = llt.matrixL()(k, k);
    if (!(pivot * pivot > 1e-10 * information(k, k))) return false;
  }
  return true;
}

struct State {
  Eigen::VectorXd eta, p, w;
  Eigen::MatrixXd information;
  Eigen::LLT<Eigen::MatrixXd> llt;
  std::optional<Eigen::LLT<Eigen::MatrixXd>> penalty_llt;  // of the penalty design's information (Firth's)
  double objective = 0;
  bool ok = false;
};

// Everything at `beta`: the fitted probabilities, the information X'WX and its factorisation, and
// the objective (log-likelihood, plus 1/2 log det I of the penalty design for Firth's).
State evaluate(const Eigen::MatrixXd& x, const Eigen::VectorXd& y, const Eigen::VectorXd& beta, Penalty penalty,
               const Eigen::MatrixXd& penalty_design) {
  State s;
  s.eta = x * beta;
  const Eigen::Index n = x.rows();
  s.p.resize(n);
  s.w.resize(n);
  // ln L is the sum of ln q, q = p for a case and 1 - p for a control, taken as one logarithm of the
  // q's product (kept in range by an exponent of its own): a logarithm a sample would cost more than
  // all the rest of the step. p and 1 - p come from e^-|eta| without cancellation.
  double product = 1.0;
  long exponent = 0;
  for (Eigen::Index i = 0; i < n; ++i) {
    const double eta = s.eta[i];
    const double e = std::exp(-std::fabs(eta));
    const double near = 1.0 / (1.0 + e), far = e * near;  // the larger and the smaller of p and 1 - p
    s.p[i] = eta >= 0 ? near : far;
    s.w[i] = near * far;
    product *= (y[i] > 0.5) == (eta >= 0) ? near : far;
    if (product < 1e-200) {
      int k = 0;
      product = std::frexp(product, &k);
      exponent += k;
    }
  }
  double ll = std::log(product) + static_cast<double>(exponent) * 0.69314718055994530942;
  information_of(x, s.w, s.information);
  s.llt.compute(s.information);
  s.ok = full_rank(s.llt, s.information) && std::isfinite(ll);
  s.objective = std::numeric_limits<double>::quiet_NaN();  // until it is known: a failed fit shows
  if (!s.ok) return s;
  if (penalty == Penalty::kFirth) {
    if (&penalty_design == &x) {
      s.penalty_llt = s.llt;
    } else {
      Eigen::MatrixXd information;
      information_of(penalty_design, s.w, information);
      s.penalty_llt.emplace(information);
      if (!full_rank(*s.penalty_llt, information)) {
        s.ok = false;
        return s;
      }
    }
    double log_det = 0;
    for (Eigen::Index k = 0; k < penalty_design.cols(); ++k) log_det += 2.0 * std::log(s.penalty_llt->matrixL()(k, k));
    ll += 0.5 * log_det;
  }
  s.objective = ll;
  s.ok = std::isfinite(ll);
  return s;
}

// The score: X'(y - p), and for Firth's X'(y - p + h (1/2 - p)) with h the diagonal of the penalty
// design's hat matrix.
Eigen::VectorXd score(const Eigen::MatrixXd& x, const Eigen::VectorXd& y, const State& s, Penalty penalty,
                      const Eigen::MatrixXd& penalty_design) {
  Eigen::VectorXd residual = y - s.p;
  if (penalty == Penalty::kFirth) {
    const Eigen::MatrixXd z =
        s.penalty_llt->matrixL().solve((penalty_design.array().colwise() * s.w.array().sqrt()).matrix().transpose());
    const Eigen::VectorXd h = z.colwise().squaredNorm().transpose();
    residual.array() += h.array() * (0.5 - s.p.array());
  }
  return x.transpose() * residual;
}

}  // namespace

LogisticFit fit_logistic(const Eigen::MatrixXd& x, const Eigen::VectorXd& y, const Eigen::VectorXd& start,
                         Penalty penalty, const Eigen::MatrixXd* penalty_design) {
  const Eigen::MatrixXd& design = penalty_design != nullptr ? *penalty_design : x;
  LogisticFit fit;
  fit.beta = start;
  State s = evaluate(x, y, fit.beta, penalty, design);
  for (int iteration = 0; s.ok && iteration < kMaxIterations; ++iteration) {
    const Eigen::VectorXd g = score(x, y, s, penalty, design);
    const Eigen::VectorXd step = s.llt.solve(g);
    // Newton's decrement: about what the full step would still gain. This small, the estimate is
    // within 1e-6 of its standard errors of the maximum, and the step need not be taken.
    if (step.dot(g) < 1e-16 * (1.0 + std::fabs(s.objective))) {
      fit.converged = true;
      break;
    }
    double t = 1.0;
    State next;
    for (int half = 0; half < 40; ++half, t /= 2.0) {
      next = evaluate(x, y, fit.beta + t * step, penalty, design);
      if (next.ok && next.objective >= s.objective - 1e-12 * std::fabs(s.objective)) break;
      next.ok = false;
    }
    if (!next.ok) break;  // no step uphill: as far as it goes
    fit.beta += t * step;
    const double gained = next.objective - s.objective;
    s = std::move(next);
    if (penalty == Penalty::kNone && s.eta.cwiseAbs().maxCoeff() > kSeparatedEta) break;  // heading for infinity
    if ((t * step).cwiseAbs().maxCoeff() < 1e-9 && gained < 1e-10 * (1.0 + std::fabs(s.objective))) {
      fit.converged = true;
      break;
    }
  }
  if (!s.ok) s = evaluate(x, y, fit.beta, penalty, design);
  fit.log_likelihood = s.objective;
  fit.separated = !s.ok || (s.eta.size() > 0 && s.eta.cwiseAbs().maxCoeff() > kSeparatedEta);
  if (s.ok)
    fit.covariance = s.llt.solve(Eigen::MatrixXd::Identity(x.cols(), x.cols()));
  else
    fit.covariance = Eigen::MatrixXd::Constant(x.cols(), x.cols(), std::nan(""));
  return fit;
}

}  // namespace varpair
