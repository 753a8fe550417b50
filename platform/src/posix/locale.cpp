#include "platform/numfmt.h"

#include <clocale>
#include <cstring>
#include <langinfo.h>
#include <locale.h>

namespace platform {

// The radix character of the locale's own data, read from a locale object of
// its own so that the process's locale never changes. An empty name is the
// user's setting from the environment (LC_ALL, LC_NUMERIC, LANG), as the C
// library reads it. A locale that is not installed gives '.'.
char detail::separatorForLocaleName(const std::string& name) {
    const locale_t loc = ::newlocale(LC_NUMERIC_MASK, name.c_str(), static_cast<locale_t>(0));
    if (loc == static_cast<locale_t>(0))
        return '.';
    const char* radix = ::nl_langinfo_l(RADIXCHAR, loc);
    const char c = radix != nullptr && std::strlen(radix) == 1 ? radix[0] : '.';
    ::freelocale(loc);
    return c == ',' ? ',' : '.';
}

} // namespace platform
