#pragma once
// Errors raised inside an engine operation leave it as EInstallException. Portable.
#include <exception>
#include <utility>

#include "Components/SetupStructs.h"

// Runs Action (with or without a result); platform, stream and library failures
// are raised again as EInstallException with their text, for the wizard to show.
// A reference Action answers stays one.
template <typename F>
decltype(auto) AsInstallError(F&& Action) {
    try {
        return std::forward<F>(Action)();
    } catch (const EInstallException&) {
        throw;
    } catch (const std::exception& e) {
        throw EInstallException(e.what());
    }
}
