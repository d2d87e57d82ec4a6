#pragma once

#include <cstdlib>
#include <optional>
#include <string>

// Overrides one environment variable for the life of the object and puts back what was there,
// also when a failed assertion leaves the test early. No value means the variable is removed.
class ScopedEnv
{
public:
    ScopedEnv(std::string name, const std::optional<std::string> &value)
        : Name(std::move(name))
    {
        if (const char *previous = std::getenv(Name.c_str()))
            Previous = previous;
        set(value);
    }
    ~ScopedEnv() { set(Previous); }
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    void set(const std::optional<std::string> &value) const
    {
        if (value)
            ::setenv(Name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(Name.c_str());
    }

    std::string Name;
    std::optional<std::string> Previous;
};
