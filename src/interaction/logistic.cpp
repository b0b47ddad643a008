#include "interaction/logistic.h"

#include <cmath>

namespace varpair {

namespace {

constexpr int kMaxIterations = 100;
constexpr double kSeparatedEta = 27.6;  // |x b| beyond which p is within 1e-12 of 0 or 1

// ln(1 + e^eta) without overflow.
double softplus(double eta) { return eta > 0 ? eta + std::log1p(std::exp(-eta)) : std::log1p(std::exp(eta)); }

struct State {
  Eigen::VectorXd eta, p, w;
  Eigen::MatrixXd information;
  Eigen::LLT<Eigen::MatrixXd> llt;
  Eigen::LLT<Eigen::MatrixXd> penalty_llt;  // of the penalty design's information (Firth's)
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
  double ll = 0;
  for (Eigen::Index i = 0; i < n; ++i) {
    const double eta = s.eta[i];
    s.p[i] = 1.0 / (1.0 + std::exp(-eta));
    s.w[i] = s.p[i] * (1.0 - s.p[i]);
    ll += y[i] * eta - softplus(eta);
  }
  s.information = x.transpose() * (x.array().colwise() * s.w.array()).matrix();
  s.llt.compute(s.information);
  s.ok = s.llt.info() == Eigen::Success && std::isfinite(ll);
  if (!s.ok) return s;
  if (penalty == Penalty::kFirth) {
    if (&penalty_design == &x) {
      s.penalty_llt = s.llt;
    } else {
      s.penalty_llt.compute(penalty_design.transpose() *
                            (penalty_design.array().colwise() * s.w.array()).matrix());
      if (s.penalty_llt.info() != Eigen::Success) {
        s.ok = false;
        return s;
      }
    }
    double log_det = 0;
    for (Eigen::Index k = 0; k < penalty_design.cols(); ++k) log_det += 2.0 * std::log(s.penalty_llt.matrixL()(k, k));
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
    const Eigen::MatrixXd z = s.penalty_llt.matrixL().solve(
        (penalty_design.array().colwise() * s.w.array().sqrt()).matrix().transpose());
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
    const Eigen::VectorXd step = s.llt.solve(score(x, y, s, penalty, design));
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
