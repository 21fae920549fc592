// SPDX-License-Identifier: MIT
#pragma once

#include <map>
#include <optional>
#include <string>
#include <tuple>

namespace ovk {

// The per-user settings store: texts under (application, section, key).
class SettingsStore {
  public:
    virtual ~SettingsStore() = default;
    // The stored text, or nothing when the key does not exist.
    virtual std::optional<std::string> read(const std::string& application,
                                            const std::string& section,
                                            const std::string& key) const = 0;
    virtual void write(const std::string& application, const std::string& section,
                       const std::string& key, const std::string& value) = 0;

    // Absent and empty read the same for callers that do not tell them apart.
    std::string readText(const std::string& application, const std::string& section,
                         const std::string& key) const {
        return read(application, section, key).value_or(std::string());
    }
};

// A store that lives in memory: for tests and for hosts that keep nothing between runs.
class MemorySettingsStore : public SettingsStore {
  public:
    std::optional<std::string> read(const std::string& application, const std::string& section,
                                    const std::string& key) const override {
        const auto it = values_.find({application, section, key});
        if (it == values_.end()) return std::nullopt;
        return it->second;
    }
    void write(const std::string& application, const std::string& section, const std::string& key,
               const std::string& value) override {
        values_[{application, section, key}] = value;
    }

  private:
    std::map<std::tuple<std::string, std::string, std::string>, std::string> values_;
};

// The application name under which the component keeps its settings.
inline constexpr const char* kSettingsApplication = "VelmoraDotNet";

}  // namespace ovk
