#include "cli/production_report.h"

#include "programmers/process_steps.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <tuple>

namespace tarnik::cli {

namespace {

std::optional<double> Median(std::vector<double> values) {
    if (values.empty()) return std::nullopt;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::string Fixed(double value, const char* format) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string StepsText(const std::map<int, std::size_t>& steps) {
    std::string text;
    for (const auto& [step, units] : steps)
        text += (text.empty() ? "" : ", ") + ("step " + std::to_string(step)) + ": " +
                std::to_string(units);
    return text.empty() ? "-" : text;
}

} // namespace

int FailingStep(int exitStatus) {
    return exitStatus >= kErrorExitOffset ? exitStatus - kErrorExitOffset : exitStatus;
}

std::vector<ImageFigures> SummariseResults(const std::vector<ReportRow>& rows) {
    std::map<std::tuple<std::string, std::string>, ImageFigures> images;
    std::map<std::tuple<std::string, std::string>, std::vector<double>> times;
    for (const ReportRow& row : rows) {
        const auto key = std::make_tuple(row.image, row.imageSha256);
        ImageFigures& image = images[key];
        image.image = row.image;
        image.imageSha256 = row.imageSha256;
        ++image.units;
        if (row.outcome == "programmed") {
            ++image.programmed;
            times[key].push_back(row.seconds);
        } else if (row.outcome == "failed") {
            ++image.failed;
            ++image.failedBySteps[FailingStep(row.exitStatus)];
        } else if (row.outcome == "interrupted") {
            ++image.interrupted;
        } else {
            ++image.notStarted;
        }
    }
    std::vector<ImageFigures> result;
    for (auto& [key, image] : images) {
        if (const std::size_t verdicts = image.programmed + image.failed; verdicts > 0)
            image.firstPassYield = static_cast<double>(image.programmed) / verdicts;
        image.medianSeconds = Median(times[key]);
        result.push_back(std::move(image));
    }
    return result;
}

std::string ReportTable(const std::vector<ImageFigures>& images) {
    using Line = std::vector<std::string>;
    std::vector<Line> lines{{"Image", "SHA-256", "Units", "Programmed", "Failed",
                             "First-pass yield", "Median s", "Failed by step"}};
    for (const ImageFigures& image : images)
        lines.push_back({image.image, image.imageSha256.substr(0, 12), std::to_string(image.units),
                         std::to_string(image.programmed), std::to_string(image.failed),
                         image.firstPassYield ? Fixed(*image.firstPassYield * 100, "%.1f %%") : "-",
                         image.medianSeconds ? Fixed(*image.medianSeconds, "%.2f") : "-",
                         StepsText(image.failedBySteps)});
    // Texts stand left, figures right; the last column is not padded.
    const std::vector<bool> left{true, true, false, false, false, false, false, true};
    std::vector<std::size_t> widths(left.size(), 0);
    for (const Line& line : lines)
        for (std::size_t c = 0; c < line.size(); ++c)
            widths[c] = std::max(widths[c], line[c].size());
    std::string text;
    for (const Line& line : lines) {
        std::string out;
        for (std::size_t c = 0; c < line.size(); ++c) {
            const std::string pad(widths[c] - line[c].size(), ' ');
            if (c > 0) out += "  ";
            out += left[c] ? line[c] + (c + 1 < line.size() ? pad : "") : pad + line[c];
        }
        text += out + "\n";
    }
    return text;
}

std::string ReportJson(const std::vector<ImageFigures>& images) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const ImageFigures& image : images) {
        nlohmann::ordered_json steps = nlohmann::ordered_json::object();
        for (const auto& [step, units] : image.failedBySteps)
            steps[std::to_string(step)] = units;
        nlohmann::ordered_json entry;
        entry["image"] = image.image;
        entry["image_sha256"] = image.imageSha256;
        entry["units"] = image.units;
        entry["programmed"] = image.programmed;
        entry["failed"] = image.failed;
        entry["interrupted"] = image.interrupted;
        entry["not_started"] = image.notStarted;
        entry["failed_by_step"] = steps;
        entry["first_pass_yield"] =
            image.firstPassYield ? nlohmann::ordered_json(*image.firstPassYield) : nullptr;
        entry["median_seconds"] =
            image.medianSeconds ? nlohmann::ordered_json(*image.medianSeconds) : nullptr;
        list.push_back(std::move(entry));
    }
    return list.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

std::optional<std::time_t> ParseSinceDate(const std::string& date) {
    if (date.size() != 10 || date[4] != '-' || date[7] != '-') return std::nullopt;
    const auto number = [&](std::size_t from, std::size_t length) {
        int value = 0;
        for (std::size_t i = from; i < from + length; ++i) {
            if (date[i] < '0' || date[i] > '9') return -1;
            value = value * 10 + (date[i] - '0');
        }
        return value;
    };
    const int year = number(0, 4);
    const int month = number(5, 2);
    const int day = number(8, 2);
    if (year < 0 || month < 1 || day < 1) return std::nullopt;
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_isdst = -1;
    const std::time_t when = std::mktime(&local);
    // mktime carries a day past the month's end into the next month: such a date is refused.
    if (when == static_cast<std::time_t>(-1) || local.tm_year != year - 1900 ||
        local.tm_mon != month - 1 || local.tm_mday != day)
        return std::nullopt;
    return when;
}

} // namespace tarnik::cli
