// Benchmarks of the engine's operations. The generated configurations come from
// bench/make_config.py; their paths are passed in ORVANE_BENCH_CONFIG_1K,
// ORVANE_BENCH_CONFIG_1K_NO_EVENTS and ORVANE_BENCH_CONFIG_10K.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "engine/explain.h"
#include "engine/internal.h"
#include "engine/loader.h"
#include "engine/orvane.h"
#include "events/serialized_events.h"

namespace orvane {
namespace {

const char* config_path(const char* variable) {
  const char* path = std::getenv(variable);
  if (path == nullptr) throw std::runtime_error(std::string(variable) + " is not set");
  return path;
}

constexpr const char* kChain =
    "darkmode targeting overrides holdout mutex_group fractional_availability value";

Orvane load(const char* variable, const char* chain = kChain) {
  Result<Orvane, OrvaneInitError> engine = init_orvane(chain, config_path(variable));
  if (!engine) throw std::runtime_error(engine.error().display());
  return std::move(engine).value();
}

// The full context a logged-in mobile request carries.
Context full_context() {
  Context ctx;
  ctx.user_id = "t2_8f3k2j9d";
  ctx.device_id = "3F2504E0-4F89-11D3-9A0C-0305E82C3301";
  ctx.app_name = "ios";
  ctx.build_number = 1234;
  ctx.locale = "en-US";
  ctx.country_code = "US";
  ctx.canonical_url = "https://www.example.com/r/cats/comments/abc123";
  ctx.logged_in = true;
  return ctx;
}

// One small bucketed experiment, with and without an exposure event.
Orvane bucketed_engine(bool emit_event) {
  auto feature = std::make_shared<Feature>();
  feature->id = 42;
  feature->name = "my_feature";
  feature->enabled = true;
  feature->version = 3;
  feature->owner = "bench";
  feature->emit_event = emit_event;
  VariantSet set;
  set.shuffle_version = 3;
  set.bucket_val = ContextField::from_name("user_id");
  set.variants = {{"control_1", 0.0f, 0.5f}, {"treatment", 0.5f, 1.0f}};
  feature->variant_set = std::move(set);
  return Orvane({feature}, {Stage::Darkmode, Stage::Targeting, Stage::FractionalAvailability});
}

void BM_Load(benchmark::State& state, const char* variable) {
  for (auto _ : state) benchmark::DoNotOptimize(load(variable));
}
BENCHMARK_CAPTURE(BM_Load, features_1000, "ORVANE_BENCH_CONFIG_1K")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Load, features_10000, "ORVANE_BENCH_CONFIG_10K")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

void BM_DecideBucketed(benchmark::State& state) {
  Orvane engine = bucketed_engine(state.range(0) != 0);
  Context ctx = full_context();
  const Feature& feature = *engine.features()[0];
  for (auto _ : state) benchmark::DoNotOptimize(decide(engine, feature, ctx));
}
BENCHMARK(BM_DecideBucketed)->ArgName("with_event")->Arg(0)->Arg(1);

void BM_Targeting20Leaves(benchmark::State& state) {
  // ALL of 20 leaves that all hold, so every leaf is evaluated.
  AllNode all;
  for (int i = 0; i < 20; ++i) {
    switch (i % 4) {
      case 0:
        all.children.push_back({EqNode{EqOne{ContextField::from_name("country_code"), "US"}}});
        break;
      case 1:
        all.children.push_back({EqNode{EqMany{ContextField::from_name("app_name"),
                                              {"android", "web", "ios"}}}});
        break;
      case 2:
        all.children.push_back({CompareNode{Comp::Ge, ContextField::from_name("build_number"), 100}});
        break;
      default:
        all.children.push_back({NeNode{ContextField::from_name("locale"), "de-DE"}});
    }
  }
  TargetingTree tree{std::move(all)};
  Context ctx = full_context();
  for (auto _ : state) benchmark::DoNotOptimize(eval(tree, ctx));
}
BENCHMARK(BM_Targeting20Leaves);

void BM_ChooseAll(benchmark::State& state) {
  // The same generated features, once with exposure events and once without.
  Orvane engine =
      load(state.range(0) != 0 ? "ORVANE_BENCH_CONFIG_1K" : "ORVANE_BENCH_CONFIG_1K_NO_EVENTS");
  Context ctx = full_context();
  for (auto _ : state) benchmark::DoNotOptimize(choose_all(engine, ctx, std::nullopt));
}
BENCHMARK(BM_ChooseAll)->ArgName("with_events")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// One explanation, up to its JSON text (the form Python receives): of the small bucketed
// feature with an event, and of a generated feature with a targeting tree, overrides and
// a holdout group.
void BM_Explain(benchmark::State& state) {
  const bool generated = state.range(0) != 0;
  Orvane engine = generated ? load("ORVANE_BENCH_CONFIG_1K") : bucketed_engine(true);
  std::string name = "my_feature";
  if (generated) {
    for (const auto& feature : engine.features()) {
      if (feature->targeting && feature->overrides && feature->variant_set &&
          feature->variant_set->holdout) {
        name = feature->name;
        break;
      }
    }
  }
  Context ctx = full_context();
  for (auto _ : state) {
    benchmark::DoNotOptimize(explanation_json(explain(engine, name, ctx, std::nullopt)).dump());
  }
}
BENCHMARK(BM_Explain)->ArgName("generated")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// Arg 0: stamping the event, as every decision does; 1: stamping it and writing its
// compact text and document, as a reader of both does.
void BM_EncodeEvents(benchmark::State& state) {
  const bool read = state.range(0) != 0;
  Context ctx = full_context();
  const ExperimentEvent event{
      .feature_name = "search_ranking_v2",
      .variant_name = "treatment_semantic",
      .bucket_field = "user_id",
      .identifier = "t2_8f3k2j9d",
      .start_ts = 1767225600000,
      .stop_ts = 1798761600000,
      .owner = "search-relevance",
      .feature_id = 3001,
      .feature_version = 7,
      .kind = EventKind::FracAvail,
  };
  for (auto _ : state) {
    std::vector<ExperimentEvent> events{event};
    Result<SerializedEvents, EventError> stamped = serialize_events(ctx, std::move(events));
    if (read && stamped) {
      benchmark::DoNotOptimize(stamped->texts());
      benchmark::DoNotOptimize(stamped->documents());
    }
    benchmark::DoNotOptimize(stamped);
  }
}
BENCHMARK(BM_EncodeEvents)->ArgName("read")->Arg(0)->Arg(1);

}  // namespace
}  // namespace orvane

BENCHMARK_MAIN();
