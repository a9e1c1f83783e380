#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>

// One value of any kind: nothing yet, a text, a whole number, a floating-point number, or a reference
// to an object. A plain value is stored as a copy; an object is stored as a shared reference, so that
// reading it back gives the same object, not a copy of it.
class ClsVariant {
public:
    using Object = std::shared_ptr<void>;
    using Held = std::variant<std::monostate, std::string, int64_t, double, Object>;

    ClsVariant() = default;
    explicit ClsVariant(Held value);

    const Held& Value() const { return m_value; }
    void SetValue(Held value);

    bool IsText() const;
    // The text held; empty text when something other than a text is held.
    const std::string& Text() const;

private:
    Held m_value;
};
