// Site plan texts of any content, CSV or JSON: every problem says why, and every row kept holds
// only checked text (IDs of 8 upper-case hex digits or empty, a bounded link).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "settings/site_plan.h"

namespace {

bool idOrEmpty(const char* text) {
  const size_t n = strnlen(text, 9);
  if (n == 0) return true;
  if (n != 8) return false;
  for (size_t i = 0; i < n; ++i)
    if (!((text[i] >= '0' && text[i] <= '9') || (text[i] >= 'A' && text[i] <= 'F'))) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::unique_ptr<SitePlan> plan(new SitePlan());
  parseSitePlanText(std::string(reinterpret_cast<const char*>(data), size), *plan);
  FUZZ_CHECK(plan->count <= sitePlanRowLimit);
  FUZZ_CHECK(plan->problems.size() <= sitePlanProblemLimit);
  for (const SitePlanProblem& p : plan->problems) FUZZ_CHECK(!p.reason.empty());
  for (size_t i = 0; i < plan->count; ++i) {
    const SitePlanRow& row = plan->rows[i];
    FUZZ_CHECK(row.row > 0);
    FUZZ_CHECK(idOrEmpty(row.converter));
    for (const auto& slot : row.slots) FUZZ_CHECK(idOrEmpty(slot));
    FUZZ_CHECK(strnlen(row.link, sitePlanLinkCapacity) < sitePlanLinkCapacity);
    FUZZ_CHECK(row.wiredAddress >= -1 && row.wiredAddress <= sitePlanMaxWiredAddress);
  }
  return 0;
}
