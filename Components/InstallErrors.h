#pragma once
// Errors raised inside an engine operation leave it as EInstallException. Portable.
#include <exception>
#include <utility>

#include "Components/SetupStructs.h"

// Runs Action; any other exception is raised again as EInstallException with its text.
template <typename F>
auto AsInstallError(F&& Action) {
    try {
        return std::forward<F>(Action)();
    } catch (const EInstallException&) {
        throw;
    } catch (const std::exception& e) {
        throw EInstallException(e.what());
    }
}
