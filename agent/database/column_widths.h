// The longest texts a row of the agent's tables holds, in UTF-16 units;
// longer ones are cut. Apart from the schema, so that the rows and sums
// that fill the columns need not know how the tables are made.
#pragma once

#include <cstddef>

namespace pelko::database {

inline constexpr std::size_t kServerChars = 64;
inline constexpr std::size_t kNameChars = 255;
inline constexpr std::size_t kDocumentChars = 1000;
// sides, paper and color_from; the client takes kNameChars.
inline constexpr std::size_t kDetailChars = 64;

}  // namespace pelko::database
