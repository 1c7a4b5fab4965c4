#include "algorithm.h"

#include <cmath>
#include <map>
#include <optional>

#include "tag.h"
#include "text.h"

namespace zl::sim {
namespace {

constexpr double kPi = 3.14159265358979323846;

// "KEY=VALUE;KEY=VALUE": keys without regard to case, blanks around keys
// and values ignored, empty items skipped. A value may itself hold "="
// (an expression such as "A = 1").
class Params {
 public:
  Params(std::string_view algorithm, std::string_view text) : algorithm_(algorithm) {
    for (const Field& item : Split(text, ';')) {
      if (Trim(item.text).empty()) continue;
      const size_t eq = item.text.find('=');
      if (eq == std::string_view::npos) {
        Fail(item.offset, "parameter '" + std::string(Trim(item.text)) + "' has no '='");
      }
      const std::string key = ToUpper(Trim(item.text.substr(0, eq)));
      if (key.empty()) Fail(item.offset, "parameter without a name");
      if (values_.count(key) != 0) Fail(item.offset, "parameter " + key + " given twice");
      values_[key] = {Trim(item.text.substr(eq + 1)), item.offset};
    }
  }

  // Every key must have been taken by one of the getters below.
  void CheckAllUsed() const {
    for (const auto& [key, value] : values_) {
      if (used_.count(key) == 0) {
        Fail(value.offset, "unknown parameter " + key + " for " + std::string(algorithm_));
      }
    }
  }

  std::optional<double> Number(const char* key) {
    const Value* v = Take(key);
    if (v == nullptr) return std::nullopt;
    double number = 0;
    if (!ParseDouble(v->text, &number)) {
      Fail(v->offset, std::string(key) + " is not a number: '" + std::string(v->text) + "'");
    }
    return number;
  }

  double RequiredNumber(const char* key) {
    auto n = Number(key);
    if (!n) Fail(0, std::string(algorithm_) + " needs " + key);
    return *n;
  }

  std::optional<Expression> Expr(const char* key) {
    const Value* v = Take(key);
    if (v == nullptr) return std::nullopt;
    try {
      return Expression::Compile(v->text);
    } catch (const ExpressionError& e) {
      Fail(v->offset, std::string(key) + ": " + e.what());
    }
  }

  Expression RequiredExpr(const char* key) {
    auto e = Expr(key);
    if (!e) Fail(0, std::string(algorithm_) + " needs " + key);
    return std::move(*e);
  }

  // A parameter that must name one tag (optionally with a field suffix).
  Expression RequiredTag(const char* key) {
    const Value* v = values_.count(key) ? &values_.at(key) : nullptr;
    Expression e = RequiredExpr(key);
    if (!e.IsSingleName()) Fail(v->offset, std::string(key) + " must name a tag");
    return e;
  }

  void Positive(const char* key, double value) const {
    if (!(value > 0)) Fail(Offset(key), std::string(key) + " must be above 0");
  }
  void NotNegative(const char* key, double value) const {
    if (value < 0) Fail(Offset(key), std::string(key) + " must not be negative");
  }

  [[noreturn]] void Fail(size_t offset, const std::string& what) const {
    throw AlgorithmError(false, offset, what);
  }

 private:
  struct Value {
    std::string_view text;
    size_t offset;
  };

  const Value* Take(const char* key) {
    auto it = values_.find(key);
    if (it == values_.end()) return nullptr;
    used_[key] = true;
    return &it->second;
  }

  size_t Offset(const char* key) const {
    auto it = values_.find(key);
    return it == values_.end() ? 0 : it->second.offset;
  }

  std::string_view algorithm_;
  std::map<std::string, Value> values_;
  std::map<std::string, bool> used_;
};

// RAMP RATE=r [SP=expr]: with SP the value moves towards SP by at most
// RATE EU per second (a rate limiter); without SP it rises by RATE per
// second and wraps from EU high back to EU low (a sawtooth).
class Ramp : public Algorithm {
 public:
  Ramp(double rate, std::optional<Expression> sp) : rate_(std::fabs(rate)), sign_(rate < 0 ? -1 : 1), sp_(std::move(sp)) {}

  double Step(const Tag& self, const StepContext& c) override {
    const double v = self.value;
    if (sp_) {
      const double target = sp_->Evaluate(c.values);
      const double step = rate_ * c.dt;
      if (std::fabs(target - v) <= step) return target;
      return target > v ? v + step : v - step;
    }
    const double lo = std::fmin(self.def.eu_lo, self.def.eu_hi);
    const double hi = std::fmax(self.def.eu_lo, self.def.eu_hi);
    const double span = hi - lo;
    if (span <= 0) return v;
    double next = v + sign_ * rate_ * c.dt;
    if (next > hi || next < lo) next = lo + std::fmod(std::fmod(next - lo, span) + span, span);
    return next;
  }

 private:
  double rate_;
  double sign_;
  std::optional<Expression> sp_;
};

// LAG IN=expr TAU=s: first-order lag of IN with time constant TAU.
class Lag : public Algorithm {
 public:
  Lag(Expression in, double tau) : in_(std::move(in)), tau_(tau) {}
  double Step(const Tag& self, const StepContext& c) override {
    const double in = in_.Evaluate(c.values);
    const double alpha = 1.0 - std::exp(-c.dt / tau_);
    return self.value + (in - self.value) * alpha;
  }

 private:
  Expression in_;
  double tau_;
};

// COPY SRC=tag and CALC EXPR=expr: the value is the input, every cycle.
class Follow : public Algorithm {
 public:
  explicit Follow(Expression in) : in_(std::move(in)) {}
  double Step(const Tag&, const StepContext& c) override { return in_.Evaluate(c.values); }

 private:
  Expression in_;
};

// SINE PERIOD=s [AMP=a] [BIAS=b]: BIAS + AMP * sin(2 pi t / PERIOD) over
// the elapsed simulation time; AMP and BIAS default to half the EU span and
// the middle of the EU range.
class Sine : public Algorithm {
 public:
  Sine(double period, double amp, double bias) : period_(period), amp_(amp), bias_(bias) {}
  double Step(const Tag&, const StepContext& c) override {
    return bias_ + amp_ * std::sin(2 * kPi * c.sim_time / period_);
  }

 private:
  double period_, amp_, bias_;
};

// VALVE CMD=tag [TRAVEL=s] and PUMP CMD=tag [DELAY=s]: feedback of a
// command. A digital tag takes the command's state once the command has
// held that state for the travel time (or start delay); an analog tag moves
// towards the command's EU value at one EU span per travel time.
class Feedback : public Algorithm {
 public:
  Feedback(Expression cmd, double delay) : cmd_(std::move(cmd)), delay_(delay) {}
  double Step(const Tag& self, const StepContext& c) override {
    const double command = cmd_.Evaluate(c.values);
    if (IsDigital(self.def.type)) {
      const double wanted = command != 0 ? 1 : 0;
      if (wanted == self.value) {
        pending_ = 0;
        return self.value;
      }
      pending_ += c.dt;
      if (pending_ + 1e-9 >= delay_) {
        pending_ = 0;
        return wanted;
      }
      return self.value;
    }
    if (delay_ == 0) return command;
    const double step = std::fabs(self.def.eu_hi - self.def.eu_lo) / delay_ * c.dt;
    if (std::fabs(command - self.value) <= step) return command;
    return command > self.value ? self.value + step : self.value - step;
  }

 private:
  Expression cmd_;
  double delay_;
  double pending_ = 0;  // simulation seconds the command has differed
};

// INTEG IN=expr [K=k]: integrates K * IN per second, held within the EU
// range (a tank level fed by flows).
class Integrator : public Algorithm {
 public:
  Integrator(Expression in, double k) : in_(std::move(in)), k_(k) {}
  double Step(const Tag& self, const StepContext& c) override {
    const double lo = std::fmin(self.def.eu_lo, self.def.eu_hi);
    const double hi = std::fmax(self.def.eu_lo, self.def.eu_hi);
    const double next = self.value + k_ * in_.Evaluate(c.values) * c.dt;
    return std::fmin(std::fmax(next, lo), hi);
  }

 private:
  Expression in_;
  double k_;
};

}  // namespace

std::unique_ptr<Algorithm> Algorithm::Create(const TagDefinition& def) {
  const std::string name = ToUpper(Trim(def.algorithm));
  Params p(name, def.params);
  std::unique_ptr<Algorithm> algorithm;
  if (name.empty() || name == "NONE") {
    // no parameters
  } else if (name == "RAMP") {
    const double rate = p.RequiredNumber("RATE");
    algorithm = std::make_unique<Ramp>(rate, p.Expr("SP"));
  } else if (name == "LAG") {
    Expression in = p.RequiredExpr("IN");
    const double tau = p.Number("TAU").value_or(10.0);
    p.Positive("TAU", tau);
    algorithm = std::make_unique<Lag>(std::move(in), tau);
  } else if (name == "COPY") {
    algorithm = std::make_unique<Follow>(p.RequiredTag("SRC"));
  } else if (name == "CALC") {
    algorithm = std::make_unique<Follow>(p.RequiredExpr("EXPR"));
  } else if (name == "SINE") {
    const double period = p.Number("PERIOD").value_or(60.0);
    p.Positive("PERIOD", period);
    const double amp = p.Number("AMP").value_or((def.eu_hi - def.eu_lo) / 2);
    const double bias = p.Number("BIAS").value_or((def.eu_hi + def.eu_lo) / 2);
    algorithm = std::make_unique<Sine>(period, amp, bias);
  } else if (name == "VALVE" || name == "PUMP") {
    Expression cmd = p.RequiredTag("CMD");
    const char* key = name == "VALVE" ? "TRAVEL" : "DELAY";
    const double delay = p.Number(key).value_or(name == "VALVE" ? 5.0 : 2.0);
    p.NotNegative(key, delay);
    algorithm = std::make_unique<Feedback>(std::move(cmd), delay);
  } else if (name == "INTEG") {
    Expression in = p.RequiredExpr("IN");
    algorithm = std::make_unique<Integrator>(std::move(in), p.Number("K").value_or(1.0));
  } else {
    throw AlgorithmError(true, 0, "unknown algorithm '" + std::string(Trim(def.algorithm)) + "'");
  }
  p.CheckAllUsed();
  return algorithm;
}

}  // namespace zl::sim
