#include "ClsVariant.h"

#include <utility>

ClsVariant::ClsVariant(Held value) : m_value(std::move(value)) {}

void ClsVariant::SetValue(Held value) {
    m_value = std::move(value);
}

bool ClsVariant::IsText() const {
    return std::holds_alternative<std::string>(m_value);
}

const std::string& ClsVariant::Text() const {
    static const std::string none;
    const auto* text = std::get_if<std::string>(&m_value);
    return text ? *text : none;
}
