#include "platform/widget_services.h"

#include "common/text.h"

namespace kopiensieb {

std::string FieldTextOf(std::string_view text) {
  return std::string(FirstCharacters(text, kLongestFieldText));
}

}  // namespace kopiensieb
