#include "app/port_list.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "engine/serial_link.h"
#include "platform/system.h"

namespace portflash {
namespace {

// Name order with digit runs compared as numbers.
bool NaturalLess(const std::string& a, const std::string& b) {
  std::size_t i = 0;
  std::size_t j = 0;
  auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
  while (i < a.size() && j < b.size()) {
    if (digit(a[i]) && digit(b[j])) {
      std::size_t endA = i;
      std::size_t endB = j;
      while (endA < a.size() && digit(a[endA])) ++endA;
      while (endB < b.size() && digit(b[endB])) ++endB;
      std::string numA = a.substr(i, endA - i);
      std::string numB = b.substr(j, endB - j);
      numA.erase(0, std::min(numA.find_first_not_of('0'), numA.size()));
      numB.erase(0, std::min(numB.find_first_not_of('0'), numB.size()));
      if (numA.size() != numB.size()) return numA.size() < numB.size();
      if (numA != numB) return numA < numB;
      i = endA;
      j = endB;
      continue;
    }
    if (a[i] != b[j]) return a[i] < b[j];
    ++i;
    ++j;
  }
  if ((a.size() - i) != (b.size() - j)) return a.size() - i < b.size() - j;
  return a < b;
}

}  // namespace

std::vector<PortChoice> BuildPortList(std::vector<PresentPort> present,
                                      const std::vector<std::string>& comDevices) {
  std::vector<PortChoice> list;
  for (int i = 0; i < kComPortChoices; ++i) {
    const std::string name = "COM" + std::to_string(i + 1);
    const auto index = static_cast<std::size_t>(i);
    list.push_back({name, name, index < comDevices.size() ? comDevices[index] : ""});
  }
  std::sort(present.begin(), present.end(), [](const PresentPort& a, const PresentPort& b) {
    if (a.usb != b.usb) return a.usb;
    return NaturalLess(a.path, b.path);
  });
  for (const PresentPort& port : present) {
    if (!system::NamesADevice(port.path)) continue;
    const bool taken = std::any_of(list.begin(), list.end(), [&](const PortChoice& choice) {
      return choice.name == port.path ||
             (choice.name.starts_with("COM") && choice.note == port.path);
    });
    if (taken) continue;
    std::string label = port.path;
    if (!port.description.empty()) label += " - " + port.description;
    list.push_back({port.path, label, port.description});
  }
  return list;
}

std::vector<PortChoice> AvailablePortChoices(std::vector<PresentPort> present) {
  std::vector<std::string> comDevices;
  for (int i = 0; i < kComPortChoices; ++i) {
    comDevices.push_back(ResolvePortDevice("COM" + std::to_string(i + 1)));
  }
  return BuildPortList(std::move(present), comDevices);
}

}  // namespace portflash
