#include <glib.h>

#include <memory>
#include <optional>
#include <string>

#include "platform/case_folding.h"

namespace pelorin::platform {
namespace {

using GlibText = std::unique_ptr<gchar, decltype(&g_free)>;

// The canonical caseless form: decomposed, folded, decomposed again (folding
// can produce characters that decompose); nothing for text that is not UTF-8.
std::optional<std::string> caselessForm(std::string_view text) {
  const auto length = static_cast<gssize>(text.size());
  if (!g_utf8_validate(text.data(), length, nullptr)) return std::nullopt;
  GlibText decomposed(g_utf8_normalize(text.data(), length, G_NORMALIZE_NFD), &g_free);
  if (!decomposed) return std::nullopt;
  GlibText folded(g_utf8_casefold(decomposed.get(), -1), &g_free);
  GlibText form(g_utf8_normalize(folded.get(), -1, G_NORMALIZE_NFD), &g_free);
  if (!form) return std::nullopt;
  return std::string(form.get());
}

}  // namespace

bool equalIgnoringCase(std::string_view a, std::string_view b) {
  if (a == b) return true;
  const auto foldedA = caselessForm(a);
  const auto foldedB = caselessForm(b);
  return foldedA && foldedB && *foldedA == *foldedB;
}

}  // namespace pelorin::platform
