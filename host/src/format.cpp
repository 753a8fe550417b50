// Readable text of the values that cross the module boundary, for the call log.
#include "host/host.h"

#include "platform/text.h"

#include <QString>

#include <cstdio>

namespace host {

std::string utf8(const char* cp1251Text) {
    if (cp1251Text == nullptr)
        return "null";
    return platform::cp1251ToUtf8(cp1251Text);
}

namespace {

std::string number(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

std::string quoted16(const OLECHAR* text) {
    if (text == nullptr)
        return "null";
    return "\"" + QString::fromUtf16(text).toStdString() + "\"";
}

} // namespace

std::string describeVariant(const VARIANT& value) {
    switch (value.vt) {
    case VT_EMPTY:
        return "VT_EMPTY";
    case VT_I4:
        return "VT_I4 " + std::to_string(value.lVal);
    case VT_UI4:
        return "VT_UI4 " + std::to_string(value.ulVal);
    case VT_R4:
        return "VT_R4 " + number(static_cast<double>(value.fltVal));
    case VT_R8:
        return "VT_R8 " + number(value.dblVal);
    case VT_BOOL:
        return std::string("VT_BOOL ") + (value.boolVal != 0 ? "true" : "false");
    case VT_BSTR:
        return "VT_BSTR " + quoted16(value.bstrVal);
    case VT_UNKNOWN:
        return value.punkVal == nullptr ? "VT_UNKNOWN null" : "VT_UNKNOWN object";
    default:
        return "VT " + std::to_string(value.vt);
    }
}

std::string PropertyValue::describe() const {
    switch (vt) {
    case VT_EMPTY:
        return "VT_EMPTY";
    case VT_I4:
        return "VT_I4 " + std::to_string(integer);
    case VT_UI4:
        return "VT_UI4 " + std::to_string(integer);
    case VT_R4:
        return "VT_R4 " + number(real);
    case VT_R8:
        return "VT_R8 " + number(real);
    case VT_BOOL:
        return std::string("VT_BOOL ") + (integer != 0 ? "true" : "false");
    case VT_BSTR:
        return "VT_BSTR \"" + QString::fromStdU16String(text).toStdString() + "\"";
    case VT_UNKNOWN:
        return identity == nullptr ? "VT_UNKNOWN null" : "VT_UNKNOWN object";
    default:
        return "VT " + std::to_string(vt);
    }
}

std::string Call::text() const {
    std::string line = module.empty() ? std::string("?") : module;
    line += direction == Direction::ToModule ? " <- " : " -> ";
    line += op + "(" + args + ")";
    if (!result.empty())
        line += " = " + result;
    return line;
}

} // namespace host
