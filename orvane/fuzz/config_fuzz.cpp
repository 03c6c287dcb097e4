// Arbitrary bytes as a configuration file: reading, compiling and building an engine must
// end in an engine or an error value, never a crash, hang or leak.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "config/config_reader.h"
#include "engine/loader.h"
#include "model/compile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace orvane;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  Result<ExperimentConfig, JsonError> config = read_experiment_config(text);
  if (!config) {
    (void)config.error().display();
    return 0;
  }
  Result<FeatureList, OrvaneInitError> features =
      experiment_config_to_features(std::move(config).value());
  if (!features) {
    (void)features.error().display();
    return 0;
  }
  Result<Orvane, OrvaneInitError> engine =
      init("darkmode locale targeting overrides holdout mutex_group fractional_availability value",
           std::move(features).value());
  if (!engine) return 0;
  // Decide every feature once with a small context, so compiled data is exercised too.
  Context ctx;
  ctx.user_id = "u1";
  ctx.country_code = "US";
  ctx.build_number = 7;
  for (const auto& feature : engine->features()) {
    DecideResult result = decide(*engine, *feature, ctx);
    if (!result) (void)result.error().display();
  }
  (void)get_all_values(*engine, ctx);
  return 0;
}
