#pragma once

// The whole public interface of the library.

#include <morvex_package/application.hpp>
#include <morvex_package/diagnostics.hpp>
#include <morvex_package/error.hpp>
#include <morvex_package/profile_report.hpp>
#include <morvex_package/profile_step.hpp>
