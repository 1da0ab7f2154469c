#include "host/xml/x_element.h"

#include <sstream>

#include "host/system/exceptions.h"
#include "host/xml/xml_chars.h"

namespace System::Xml::Linq {

XElement::XElement(const std::string& name) : doc_(std::make_shared<pugi::xml_document>()) {
    node_ = doc_->append_child(name.c_str());
}

XElement XElement::Parse(const std::string& text) {
    auto doc = std::make_shared<pugi::xml_document>();
    const pugi::xml_parse_result result = doc->load_buffer(text.data(), text.size());
    if (!result) throw System::FormatException(std::string("Invalid XML: ") + result.description());
    pugi::xml_node root = doc->document_element();
    if (!root) throw System::FormatException("Invalid XML: no root element");
    return XElement(doc, root);
}

std::string XElement::Name() const { return node_ ? node_.name() : ""; }

std::string XElement::Value() const { return node_ ? node_.text().get() : ""; }

void XElement::SetValue(const std::string& value) {
    if (node_) node_.text().set(value.c_str());
}

std::optional<std::string> XElement::Attribute(const std::string& name) const {
    if (!node_) return std::nullopt;
    pugi::xml_attribute a = node_.attribute(name.c_str());
    if (!a) return std::nullopt;
    return std::string(a.value());
}

void XElement::SetAttribute(const std::string& name, const std::string& value) {
    if (!node_) return;
    pugi::xml_attribute a = node_.attribute(name.c_str());
    if (!a) a = node_.append_attribute(name.c_str());
    a.set_value(value.c_str());
}

XElement XElement::Element(const std::string& name) const {
    if (!node_) return {};
    pugi::xml_node child = node_.child(name.c_str());
    return child ? XElement(doc_, child) : XElement();
}

std::vector<XElement> XElement::Elements() const {
    std::vector<XElement> out;
    if (!node_) return out;
    for (pugi::xml_node child : node_.children())
        if (child.type() == pugi::node_element) out.push_back(XElement(doc_, child));
    return out;
}

std::vector<XElement> XElement::Elements(const std::string& name) const {
    std::vector<XElement> out;
    if (!node_) return out;
    for (pugi::xml_node child : node_.children(name.c_str())) out.push_back(XElement(doc_, child));
    return out;
}

bool XElement::HasElements() const {
    if (!node_) return false;
    for (pugi::xml_node child : node_.children())
        if (child.type() == pugi::node_element) return true;
    return false;
}

XElement XElement::AddElement(const std::string& name) {
    if (!node_) return {};
    return XElement(doc_, node_.append_child(name.c_str()));
}

void XElement::Add(const XElement& child) {
    if (node_ && child.node_) node_.append_copy(child.node_);
}

void XElement::RemoveAll() {
    if (!node_) return;
    while (node_.first_child()) node_.remove_child(node_.first_child());
    while (node_.first_attribute()) node_.remove_attribute(node_.first_attribute());
}

XElement XElement::Clone() const {
    if (!node_) return {};
    auto doc = std::make_shared<pugi::xml_document>();
    pugi::xml_node copy = doc->append_copy(node_);
    return XElement(doc, copy);
}

namespace {

// Whether every text and attribute value under node is XML text.
bool AllXmlText(const pugi::xml_node& node) {
    if (!IsXmlText(node.value())) return false;
    for (const pugi::xml_attribute a : node.attributes())
        if (!IsXmlText(a.value())) return false;
    for (const pugi::xml_node child : node.children())
        if (!AllXmlText(child)) return false;
    return true;
}

void MakeXmlText(pugi::xml_node node) {
    if (!IsXmlText(node.value())) node.set_value(ToXmlText(node.value()).c_str());
    for (pugi::xml_attribute a : node.attributes())
        if (!IsXmlText(a.value())) a.set_value(ToXmlText(a.value()).c_str());
    for (pugi::xml_node child : node.children()) MakeXmlText(child);
}

}  // namespace

// A document written is well-formed whatever its values hold: what XML cannot carry is written
// as U+FFFD, in a copy, so the values themselves stay as they were given.
std::string XElement::ToString() const {
    if (!node_) return "";
    std::ostringstream out;
    if (!AllXmlText(node_)) {
        pugi::xml_document copy;
        MakeXmlText(copy.append_copy(node_));
        copy.print(out, "  ", pugi::format_default | pugi::format_no_declaration);
    } else {
        node_.print(out, "  ", pugi::format_default | pugi::format_no_declaration);
    }
    std::string text = out.str();
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

}  // namespace System::Xml::Linq
