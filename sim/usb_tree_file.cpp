// Reading a simulated USB tree from its text form (docs/usb-tree-format.md).
#include <algorithm>
#include <cctype>
#include <fstream>
#include <set>
#include <sstream>

#include "device/usb_descriptors.h"
#include "sim/usb_text.h"
#include "sim/usb_tree.h"

namespace sim {

namespace {

// One line of the file: its keyword, positional words and key=value attributes, and the lines
// indented below it.
struct Entry {
    int line = 0;
    std::size_t indent = 0;
    std::string keyword;
    std::vector<std::string> words;
    std::map<std::string, std::string> attributes;
    std::vector<Entry> children;
};

struct ParseError {
    std::string message;
};

[[noreturn]] void Fail(int line, const std::string& message)
{
    throw ParseError{"line " + std::to_string(line) + ": " + message};
}

// Splits a line into words; a double-quoted part (with \" and \\) belongs to its word, and a
// word that starts with # starts a comment.
std::vector<std::string> SplitWords(const std::string& text, int line)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            inWord = true;
            for (++i;; ++i) {
                if (i >= text.size()) Fail(line, "unterminated quoted text");
                if (text[i] == '"') break;
                if (text[i] == '\\' && i + 1 < text.size()) ++i;
                word.push_back(text[i]);
            }
        } else if (c == '#' && !inWord) {
            break;  // a comment starts with # at the start of a word; names hold # inside
        } else if (c == ' ' || c == '\t' || c == '\r') {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word.push_back(c);
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    return words;
}

std::vector<Entry> ReadEntries(const std::string& text)
{
    Entry root;
    root.indent = 0;
    std::vector<Entry*> open{&root};
    std::vector<std::size_t> indents{0};
    std::istringstream lines(text);
    std::string raw;
    int number = 0;
    bool first = true;
    while (std::getline(lines, raw)) {
        ++number;
        std::size_t indent = 0;
        while (indent < raw.size() && raw[indent] == ' ') ++indent;
        if (indent < raw.size() && raw[indent] == '\t') Fail(number, "indent with spaces, not tabs");
        std::vector<std::string> words = SplitWords(raw.substr(indent), number);
        if (words.empty()) continue;
        Entry entry;
        entry.line = number;
        entry.indent = indent;
        entry.keyword = words[0];
        for (std::size_t i = 1; i < words.size(); ++i) {
            const std::size_t equals = words[i].find('=');
            if (equals == std::string::npos) {
                entry.words.push_back(words[i]);
            } else if (!entry.attributes.emplace(words[i].substr(0, equals), words[i].substr(equals + 1)).second) {
                Fail(number, "attribute " + words[i].substr(0, equals) + " given twice");
            }
        }
        if (first && indent != 0) Fail(number, "the first line must not be indented");
        first = false;
        // Close every entry indented as deep as this one or deeper; the rest is its parent.
        while (open.size() > 1 && indents.back() >= indent) {
            open.pop_back();
            indents.pop_back();
        }
        open.back()->children.push_back(std::move(entry));
        open.push_back(&open.back()->children.back());
        indents.push_back(indent);
    }
    return std::move(root.children);
}

std::uint32_t Number(const Entry& entry, const std::string& text, std::uint32_t largest)
{
    if (text.empty()) Fail(entry.line, "a number is missing");
    std::size_t used = 0;
    unsigned long value = 0;
    try {
        value = std::stoul(text, &used, 0);
    } catch (...) {
        Fail(entry.line, "not a number: " + text);
    }
    if (used != text.size() || text[0] == '-') Fail(entry.line, "not a number: " + text);
    if (value > largest) Fail(entry.line, text + " is larger than " + std::to_string(largest));
    return static_cast<std::uint32_t>(value);
}

std::vector<std::uint8_t> HexBytes(const Entry& entry, const std::string& text)
{
    std::string digits;
    for (char c : text) {
        if (c == ' ' || c == ':') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) Fail(entry.line, "not a hexadecimal byte string: " + text);
        digits.push_back(c);
    }
    if (digits.size() % 2 != 0) Fail(entry.line, "odd number of hexadecimal digits");
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

// Checks that an entry has only the attributes and words it may have.
void Allow(const Entry& entry, std::set<std::string> attributes, std::set<std::string> flags,
           std::size_t positional = 0)
{
    for (const auto& [key, value] : entry.attributes) {
        if (!attributes.count(key)) Fail(entry.line, "unknown attribute " + key + " of " + entry.keyword);
    }
    for (std::size_t i = positional; i < entry.words.size(); ++i) {
        if (!flags.count(entry.words[i])) Fail(entry.line, "unknown word " + entry.words[i] + " after " + entry.keyword);
    }
    if (entry.words.size() < positional) Fail(entry.line, entry.keyword + " needs its number");
}

bool HasFlag(const Entry& entry, const std::string& flag, std::size_t positional)
{
    for (std::size_t i = positional; i < entry.words.size(); ++i) {
        if (entry.words[i] == flag) return true;
    }
    return false;
}

std::string Attribute(const Entry& entry, const std::string& key, const std::string& fallback = "")
{
    const auto found = entry.attributes.find(key);
    return found == entry.attributes.end() ? fallback : found->second;
}

std::vector<std::uint8_t> TextString(const Entry& entry, const std::string& text)
{
    if (Utf8ToUtf16(text).size() > 126) Fail(entry.line, "a string descriptor holds at most 126 characters");
    return StringDescriptor(text);
}

const std::set<std::string> kDeviceAttributes = {
    "vid", "pid", "class", "speed", "address", "config-value", "manufacturer", "product", "serial",
    "identification", "total-length-changes", "descriptor"};
const std::set<std::string> kDeviceFlags = {"legacy-only"};

std::shared_ptr<UsbHub> ReadHub(const Entry& entry, bool root);

// answers= of a controller or hub: how it answers the requests sent to it.
UsbAnswering ReadAnswering(const Entry& entry)
{
    const std::string answers = Attribute(entry, "answers", "always");
    if (answers == "always") return UsbAnswering::kAnswers;
    if (answers == "never") return UsbAnswering::kNever;
    if (answers == "never-uncancellable") return UsbAnswering::kNeverUncancellable;
    Fail(entry.line, "answers is always, never or never-uncancellable");
}

std::shared_ptr<UsbDeviceModel> ReadDevice(const Entry& entry, std::shared_ptr<UsbHub> hub)
{
    auto device = std::make_shared<UsbDeviceModel>();
    device->hub = std::move(hub);
    const bool isHub = device->hub != nullptr;

    // Strings named by the device descriptor, then explicit ones; further indices are handed out
    // from 4 upward to configuration and interface strings.
    std::uint8_t indices[3] = {0, 0, 0};
    const char* names[3] = {"manufacturer", "product", "serial"};
    for (int i = 0; i < 3; ++i) {
        if (entry.attributes.count(names[i])) {
            indices[i] = static_cast<std::uint8_t>(i + 1);
            device->strings[{indices[i], 0x0409}] = TextString(entry, Attribute(entry, names[i]));
        }
    }
    if (entry.attributes.count("identification")) {
        device->strings[{0xFF, 0x0036}] = TextString(entry, Attribute(entry, "identification"));
    }
    for (const Entry& child : entry.children) {
        if (child.keyword != "string") continue;
        Allow(child, {"index", "language", "text", "hex"}, {});
        const auto index = static_cast<std::uint8_t>(Number(child, Attribute(child, "index"), 255));
        const auto language = static_cast<std::uint16_t>(Number(child, Attribute(child, "language", "0x0409"), 0xFFFF));
        if (child.attributes.count("text") == child.attributes.count("hex")) Fail(child.line, "a string has either text= or hex=");
        device->strings[{index, language}] = child.attributes.count("text") ? TextString(child, Attribute(child, "text"))
                                                                            : HexBytes(child, Attribute(child, "hex"));
    }
    std::uint8_t nextIndex = 4;
    auto allocateString = [&](const Entry& owner, const std::string& text) -> std::uint8_t {
        while (nextIndex != 0 && device->strings.count({nextIndex, 0x0409})) ++nextIndex;
        if (nextIndex == 0 || nextIndex == 0xFF) Fail(owner.line, "too many strings");
        device->strings[{nextIndex, 0x0409}] = TextString(owner, text);
        return nextIndex++;
    };

    std::vector<std::vector<std::uint8_t>> descriptors;
    std::uint8_t iConfiguration = 0;
    std::uint8_t configurationValue = 1;
    bool rawSet = false;
    for (const Entry& child : entry.children) {
        if (child.keyword == "string" || (isHub && child.keyword == "port")) continue;
        if (!child.children.empty()) Fail(child.children.front().line, "nothing may stand below " + child.keyword);
        if (child.keyword == "configuration") {
            Allow(child, {"string", "value"}, {});
            if (child.attributes.count("string")) iConfiguration = allocateString(child, Attribute(child, "string"));
            configurationValue = static_cast<std::uint8_t>(Number(child, Attribute(child, "value", "1"), 255));
        } else if (child.keyword == "interface") {
            Allow(child, {"number", "alternate", "class", "subclass", "protocol", "string", "length"}, {});
            std::vector<std::uint8_t> d = InterfaceDescriptor(
                static_cast<std::uint8_t>(Number(child, Attribute(child, "number", "0"), 255)),
                static_cast<std::uint8_t>(Number(child, Attribute(child, "class", "3"), 255)), 0);
            d[3] = static_cast<std::uint8_t>(Number(child, Attribute(child, "alternate", "0"), 255));
            d[6] = static_cast<std::uint8_t>(Number(child, Attribute(child, "subclass", "0"), 255));
            d[7] = static_cast<std::uint8_t>(Number(child, Attribute(child, "protocol", "0"), 255));
            if (child.attributes.count("string")) d[8] = allocateString(child, Attribute(child, "string"));
            const std::uint32_t length = Number(child, Attribute(child, "length", "9"), 255);
            if (length < 9) Fail(child.line, "an interface descriptor has at least 9 bytes");
            d.resize(length, 0);
            d[0] = static_cast<std::uint8_t>(length);
            descriptors.push_back(d);
        } else if (child.keyword == "endpoint") {
            Allow(child, {"address", "attributes", "max-packet", "interval"}, {});
            descriptors.push_back(EndpointDescriptor(
                static_cast<std::uint8_t>(Number(child, Attribute(child, "address", "0x81"), 255)),
                static_cast<std::uint8_t>(Number(child, Attribute(child, "attributes", "3"), 255)),
                static_cast<std::uint16_t>(Number(child, Attribute(child, "max-packet", "64"), 0xFFFF)),
                static_cast<std::uint8_t>(Number(child, Attribute(child, "interval", "4"), 255))));
        } else if (child.keyword == "descriptor") {
            Allow(child, {"hex"}, {});
            descriptors.push_back(HexBytes(child, Attribute(child, "hex")));
        } else if (child.keyword == "configuration-set") {
            Allow(child, {"hex"}, {});
            device->configuration = HexBytes(child, Attribute(child, "hex"));
            rawSet = true;
        } else {
            Fail(child.line, child.keyword + " does not belong below " + entry.keyword);
        }
    }
    if (rawSet && !descriptors.empty()) Fail(entry.line, "configuration-set replaces interface, endpoint and descriptor lines");
    if (!rawSet) {
        if (descriptors.empty() && isHub) {
            descriptors = {InterfaceDescriptor(0, 9, 0), EndpointDescriptor(0x81, 3, 1, 12)};
        } else if (descriptors.empty()) {
            descriptors = {HidInterfaceDescriptors()};
        }
        device->configuration = ConfigurationSet(descriptors, iConfiguration);
        if (device->configuration.size() > 0xFFFF) Fail(entry.line, "the configuration set is longer than 65535 bytes");
        device->configuration[5] = configurationValue;
    }

    if (entry.attributes.count("descriptor")) {
        const std::vector<std::uint8_t> raw = HexBytes(entry, Attribute(entry, "descriptor"));
        if (raw.size() != 18) Fail(entry.line, "a device descriptor has 18 bytes");
        std::copy(raw.begin(), raw.end(), device->deviceDescriptor.begin());
    } else {
        device->deviceDescriptor = DeviceDescriptor(
            static_cast<std::uint16_t>(Number(entry, Attribute(entry, "vid", isHub ? "0x05e3" : "0x1234"), 0xFFFF)),
            static_cast<std::uint16_t>(Number(entry, Attribute(entry, "pid", isHub ? "0x0608" : "0x5678"), 0xFFFF)),
            static_cast<std::uint8_t>(Number(entry, Attribute(entry, "class", isHub ? "9" : "0"), 255)), indices[0],
            indices[1], indices[2]);
    }
    const std::string speed = Attribute(entry, "speed", isHub ? "high" : "full");
    if (speed == "low") device->speed = 0;
    else if (speed == "full") device->speed = 1;
    else if (speed == "high") device->speed = 2;
    else Fail(entry.line, "speed is low, full or high");
    device->address = static_cast<std::uint16_t>(Number(entry, Attribute(entry, "address", "1"), 127));
    device->currentConfigurationValue = static_cast<std::uint8_t>(Number(entry, Attribute(entry, "config-value", "1"), 255));
    device->newerRequestFails = HasFlag(entry, "legacy-only", 0);
    if (entry.attributes.count("total-length-changes")) {
        device->laterTotalLength = static_cast<std::uint16_t>(Number(entry, Attribute(entry, "total-length-changes"), 0xFFFF));
    }
    return device;
}

UsbPort ReadPort(const Entry& entry)
{
    Allow(entry, {"status"}, {"unreadable"}, 1);
    UsbPort port;
    port.unreadable = HasFlag(entry, "unreadable", 1);
    if (entry.attributes.count("status")) port.status = Number(entry, Attribute(entry, "status"), 0xFFFFFFFF);
    if (entry.children.size() > 1) Fail(entry.children[1].line, "a port holds one device or hub");
    for (const Entry& child : entry.children) {
        if (child.keyword == "device") {
            Allow(child, kDeviceAttributes, kDeviceFlags);
            port.device = ReadDevice(child, nullptr);
        } else if (child.keyword == "hub") {
            port.device = ReadDevice(child, ReadHub(child, false));
        } else {
            Fail(child.line, child.keyword + " does not belong below port");
        }
    }
    return port;
}

std::shared_ptr<UsbHub> ReadHub(const Entry& entry, bool root)
{
    std::set<std::string> attributes = {"name", "ports", "answers"};
    std::set<std::string> flags = {"open-fails", "bus-powered"};
    if (!root) {
        attributes.insert(kDeviceAttributes.begin(), kDeviceAttributes.end());
        flags.insert(kDeviceFlags.begin(), kDeviceFlags.end());
    }
    Allow(entry, attributes, flags);
    auto hub = std::make_shared<UsbHub>();
    hub->name = Attribute(entry, "name");
    if (hub->name.empty()) Fail(entry.line, entry.keyword + " needs name=");
    hub->openFails = HasFlag(entry, "open-fails", 0);
    hub->busPowered = HasFlag(entry, "bus-powered", 0);
    hub->answering = ReadAnswering(entry);
    std::map<std::uint32_t, UsbPort> ports;
    std::uint32_t highest = 0;
    for (const Entry& child : entry.children) {
        if (child.keyword != "port") {
            if (root) Fail(child.line, child.keyword + " does not belong below root-hub");
            continue;  // the hub device's own descriptors
        }
        if (child.words.empty()) Fail(child.line, "port needs its number");
        const std::uint32_t number = Number(child, child.words[0], 255);
        if (number == 0) Fail(child.line, "ports are numbered from 1");
        if (!ports.emplace(number, ReadPort(child)).second) Fail(child.line, "port " + child.words[0] + " given twice");
        highest = std::max(highest, number);
    }
    const std::uint32_t count = entry.attributes.count("ports") ? Number(entry, Attribute(entry, "ports"), 255) : highest;
    if (highest > count) Fail(entry.line, "a port is numbered above ports=");
    hub->ports.resize(count);
    for (auto& [number, port] : ports) hub->ports[number - 1] = std::move(port);
    return hub;
}

UsbTree ReadTree(const std::vector<Entry>& entries)
{
    UsbTree tree;
    std::set<std::uint32_t> numbers;
    for (const Entry& entry : entries) {
        if (entry.keyword != "controller") Fail(entry.line, "expected controller, found " + entry.keyword);
        Allow(entry, {"answers"}, {"open-fails"}, 1);
        UsbController controller;
        controller.number = static_cast<int>(Number(entry, entry.words[0], 99));
        if (!numbers.insert(static_cast<std::uint32_t>(controller.number)).second) Fail(entry.line, "controller given twice");
        controller.openFails = HasFlag(entry, "open-fails", 1);
        controller.answering = ReadAnswering(entry);
        for (const Entry& child : entry.children) {
            if (child.keyword != "root-hub") Fail(child.line, child.keyword + " does not belong below controller");
            if (controller.rootHub) Fail(child.line, "a controller has one root hub");
            controller.rootHub = ReadHub(child, true);
        }
        tree.controllers.push_back(std::move(controller));
    }
    return tree;
}

}  // namespace

bool ParseUsbTree(const std::string& text, UsbTree& tree, std::string& error)
{
    try {
        tree = ReadTree(ReadEntries(text));
        return true;
    } catch (const ParseError& failure) {
        error = failure.message;
        return false;
    }
}

bool LoadUsbTree(const std::string& path, std::string& error)
{
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot read " + path;
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    UsbTree tree;
    if (!ParseUsbTree(text.str(), tree, error)) {
        error = path + ": " + error;
        return false;
    }
    SetUsbTree(std::move(tree));
    return true;
}

UsbTree DefaultUsbTree()
{
    static const char* const kDefaultTree = R"(
controller 0
  root-hub name=USB#ROOT_HUB20#4&2f3e1d0c&0#{f18a0e88-c30c-11d0-8815-00a0c906bed8} ports=4
    port 1
      device vid=0x046d pid=0xc077 speed=low manufacturer="Logitech" product="USB Optical Mouse"
    port 2
      hub name=USB#VID_05E3&PID_0608#5&1b2c3d4e&0&2#{f18a0e88-c30c-11d0-8815-00a0c906bed8} ports=4 product="USB2.0 Hub"
        port 1
          device vid=0x2563 pid=0x0575 manufacturer="Oskel" product="Oskel Controller" identification="RQ4180 V1.2"
        port 3
          device vid=0x413c pid=0x2107 speed=low product="USB Entry Keyboard"
controller 1
  root-hub name=USB#ROOT_HUB30#4&3a4b5c6d&0&0#{f18a0e88-c30c-11d0-8815-00a0c906bed8} ports=2
)";
    UsbTree tree;
    std::string error;
    ParseUsbTree(kDefaultTree, tree, error);
    return tree;
}

}  // namespace sim
