#include "plugin/HostFunctions.h"

#include "plugin/VariantValue.h"

namespace HostFunctions {

std::atomic<TorviGetValueFn> GetValue{nullptr};
std::atomic<TorviGetPrivValueFn> GetPrivValue{nullptr};
std::atomic<TorviCreateMenuItemFn> CreateMenuItem{nullptr};
std::atomic<QWidget*> ApplicationWindow{nullptr};

namespace {

template <class Convert>
auto askValue(int code, Convert convert) {
    VariantValue value;
    if (const TorviGetValueFn fn = GetValue.load())
        fn(value.out(), code, 0);
    return convert(value);
}

template <class Convert>
auto askPrivValue(int code, Convert convert) {
    VariantValue value;
    if (const TorviGetPrivValueFn fn = GetPrivValue.load())
        fn(value.out(), code);
    return convert(value);
}

int asInt(const VariantValue& v) {
    return v.toInt();
}
QString asString(const VariantValue& v) {
    return v.toString();
}

} // namespace

int getValueInt(int code) {
    return askValue(code, asInt);
}
QString getValueString(int code) {
    return askValue(code, asString);
}
int getPrivValueInt(int code) {
    return askPrivValue(code, asInt);
}
QString getPrivValueString(int code) {
    return askPrivValue(code, asString);
}

void reset() {
    GetValue = nullptr;
    GetPrivValue = nullptr;
    CreateMenuItem = nullptr;
    ApplicationWindow = nullptr;
}

} // namespace HostFunctions
