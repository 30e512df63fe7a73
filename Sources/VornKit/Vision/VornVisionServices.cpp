#include "VornVisionServices.h"

#include <leptonica/allheaders.h>
#include <omp.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <numbers>

namespace {

void validate(const VornBitmapImage& image) {
    if (image.width < 0 || image.height < 0 || image.width > VornBitmapImage::maximumSide ||
        image.height > VornBitmapImage::maximumSide ||
        std::int64_t(image.width) * image.height > VornBitmapImage::maximumPixels) {
        throw VornVisionError(VornVisionError::invalidImage,
                              "The image is " + std::to_string(image.width) + " x " + std::to_string(image.height) +
                                  " pixels; at most " + std::to_string(VornBitmapImage::maximumSide) +
                                  " pixels a side and " + std::to_string(VornBitmapImage::maximumPixels) +
                                  " pixels in all are read.");
    }
    if (image.width == 0 || image.height == 0) {
        return;
    }
    const std::size_t rowBytes = std::size_t(image.width) * 4;
    if (image.bytesPerRow < rowBytes ||
        image.pixels.size() < image.bytesPerRow * std::size_t(image.height - 1) + rowBytes) {
        throw VornVisionError(VornVisionError::invalidImage,
                              "The image's pixel buffer is smaller than its dimensions say.");
    }
}

bool isEmpty(const VornBitmapImage& image) { return image.width == 0 || image.height == 0; }

// A read-only view of the caller's pixels.
cv::Mat rgbaView(const VornBitmapImage& image) {
    return cv::Mat(image.height, image.width, CV_8UC4, const_cast<std::uint8_t*>(image.pixels.data()),
                   image.bytesPerRow);
}

cv::Mat grey(const VornBitmapImage& image) {
    cv::Mat out;
    cv::cvtColor(rgbaView(image), out, cv::COLOR_RGBA2GRAY);
    return out;
}

// The recognition engine's data name for one code, or the code itself when it already is one.
std::string engineLanguage(const std::string& code) {
    if (code.empty() || code.size() > 32 ||
        !std::all_of(code.begin(), code.end(), [](char c) {
            return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
        })) {
        throw VornVisionError(VornVisionError::invalidLanguage, "\"" + code + "\" is not a recognition language code.");
    }
    std::string lower;
    for (char c : code) {
        lower += (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : (c == '_' ? '-' : c);
    }
    if (lower == "zh-hant" || lower == "zh-tw" || lower == "zh-hk") {
        return "chi_tra";
    }
    if (lower == "zh" || lower.starts_with("zh-")) {
        return "chi_sim";
    }
    const std::string primary = lower.substr(0, lower.find('-'));
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 36> table{{
        {"ar", "ara"}, {"az", "aze"}, {"bg", "bul"}, {"ca", "cat"}, {"cs", "ces"}, {"da", "dan"},
        {"de", "deu"}, {"el", "ell"}, {"en", "eng"}, {"es", "spa"}, {"fa", "fas"}, {"fi", "fin"},
        {"fr", "fra"}, {"he", "heb"}, {"iw", "heb"}, {"hi", "hin"}, {"hr", "hrv"}, {"hu", "hun"},
        {"id", "ind"}, {"in", "ind"}, {"it", "ita"}, {"ja", "jpn"}, {"ko", "kor"}, {"ms", "msa"},
        {"nb", "nor"}, {"nn", "nor"}, {"no", "nor"}, {"nl", "nld"}, {"pl", "pol"}, {"pt", "por"},
        {"ro", "ron"}, {"ru", "rus"}, {"sk", "slk"}, {"sv", "swe"}, {"th", "tha"}, {"tr", "tur"},
    }};
    for (const auto& [iso, engine] : table) {
        if (primary == iso) {
            return std::string(engine);
        }
    }
    if (primary == "uk") {
        return "ukr";
    }
    if (primary == "vi") {
        return "vie";
    }
    // Anything else is taken as the engine's own name ("eng", "chi_sim", "tur").
    return code;
}

struct TessDeleter {
    void operator()(tesseract::TessBaseAPI* api) const {
        api->End();
        delete api;
    }
};

// The engine's data names that `languages` ("eng+tur") asks for.
std::vector<std::string> requestedNames(const std::string& languages) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= languages.size()) {
        const std::size_t plus = std::min(languages.find('+', start), languages.size());
        names.push_back(languages.substr(start, plus - start));
        start = plus + 1;
    }
    return names;
}

VornOCRResult runAttempt(const VornBitmapImage& image, const std::string& languages,
                         const VornRecognitionAttempt& attempt) {
    const bool accurate = attempt.level == VornRecognitionLevel::accurate;
    const std::string levelName = accurate ? "accurate" : "fast";
    // The engine spreads one page over up to ten threads, and on a busy machine they wait for each
    // other far longer than they work: the runtime may give fewer threads to a recognition when the
    // processors are loaded.
    omp_set_dynamic(1);
    std::unique_ptr<tesseract::TessBaseAPI, TessDeleter> api(new tesseract::TessBaseAPI());
    // Dictionaries stay loaded (language correction), and every requested language is offered to
    // the engine at once, which picks per word.
    if (api->Init(nullptr, languages.c_str(), tesseract::OEM_LSTM_ONLY) != 0) {
        throw VornVisionError(VornVisionError::recognitionUnavailable,
                              "Text recognition (" + levelName + ") could not load the data for \"" + languages + "\".");
    }
    // The engine goes on with the languages it found; a missing one is an error all the same.
    std::vector<std::string> loaded;
    api->GetLoadedLanguagesAsVector(&loaded);
    for (const std::string& name : requestedNames(languages)) {
        if (std::find(loaded.begin(), loaded.end(), name) == loaded.end()) {
            throw VornVisionError(VornVisionError::recognitionUnavailable,
                                  "Text recognition (" + levelName + ") could not load the data for \"" + languages + "\".");
        }
    }
    api->SetVariable("debug_file", "/dev/null");
    // The accurate level also looks for light text on dark ground and reads small print enlarged;
    // the fast level reads the image once as it is.
    api->SetVariable("tessedit_do_invert", accurate ? "1" : "0");
    api->SetPageSegMode(tesseract::PSM_AUTO);
    VornOCRResult result;
    if (isEmpty(image)) {
        return result;
    }
    const int scale = accurate && std::int64_t(image.width) * image.height <= 2048 * 2048 ? 2 : 1;
    cv::Mat scaled;
    if (scale == 1) {
        scaled = rgbaView(image);
    } else {
        cv::resize(rgbaView(image), scaled, cv::Size(), scale, scale, cv::INTER_CUBIC);
    }
    api->SetImage(scaled.data, scaled.cols, scaled.rows, 4, int(scaled.step));
    api->SetSourceResolution(300);
    if (api->Recognize(nullptr) != 0) {
        throw VornVisionError(VornVisionError::recognitionFailed,
                              "Text recognition (" + levelName + ") could not read the image.");
    }
    std::unique_ptr<tesseract::ResultIterator> lines(api->GetIterator());
    if (!lines) {
        return result;
    }
    const double width = scaled.cols;
    const double height = scaled.rows;
    do {
        std::unique_ptr<char[]> raw(lines->GetUTF8Text(tesseract::RIL_TEXTLINE));
        if (!raw) {
            continue;
        }
        std::string text(raw.get());
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\r')) {
            text.pop_back();
        }
        // A line without a reading is no observation.
        if (text.empty()) {
            continue;
        }
        int left = 0, top = 0, right = 0, bottom = 0;
        if (!lines->BoundingBox(tesseract::RIL_TEXTLINE, &left, &top, &right, &bottom)) {
            continue;
        }
        const VornNormalizedRect box{left / width, 1.0 - bottom / height, (right - left) / width,
                                     (bottom - top) / height};
        const float confidence = std::clamp(lines->Confidence(tesseract::RIL_TEXTLINE) / 100.0f, 0.0f, 1.0f);
        result.lines.emplace_back(std::move(text), box, confidence);
    } while (lines->Next(tesseract::RIL_TEXTLINE));
    return result;
}

void normalize(std::vector<float>& values, std::size_t begin, std::size_t end, float length) {
    double sum = 0;
    for (std::size_t i = begin; i < end; ++i) {
        sum += double(values[i]) * values[i];
    }
    if (sum <= 1e-12) {
        return;
    }
    const double scale = length / std::sqrt(sum);
    for (std::size_t i = begin; i < end; ++i) {
        values[i] = float(values[i] * scale);
    }
}

}  // namespace

VornBitmapImage::VornBitmapImage(int width, int height)
    : width(std::max(width, 0)),
      height(std::max(height, 0)),
      bytesPerRow(std::size_t(std::max(width, 0)) * 4),
      pixels(bytesPerRow * std::size_t(std::max(height, 0)), 0) {
    for (std::size_t i = 3; i < pixels.size(); i += 4) {
        pixels[i] = 255;
    }
}

std::string VornOCRResult::fullText() const {
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) {
            text += '\n';
        }
        text += lines[i].text;
    }
    return text;
}

VornFeaturePrint::VornFeaturePrint(std::vector<float> elements) : elements_(std::move(elements)) {}

float VornFeaturePrint::distance(const VornFeaturePrint& other) const {
    // Prints of one revision always have the same length; anything else is as far as can be.
    if (elements_.size() != other.elements_.size()) {
        return std::numeric_limits<float>::infinity();
    }
    double sum = 0;
    for (std::size_t i = 0; i < elements_.size(); ++i) {
        const double d = double(elements_[i]) - other.elements_[i];
        sum += d * d;
    }
    return float(std::sqrt(sum));
}

std::vector<VornRecognitionAttempt> VornVisionServices::recognitionAttempts(bool accurate) {
    const auto level = accurate ? VornRecognitionLevel::accurate : VornRecognitionLevel::fast;
    return {{level, VornComputeDevice::any}, {level, VornComputeDevice::cpu},
            {VornRecognitionLevel::fast, VornComputeDevice::cpu}};
}

VornOCRResult VornVisionServices::firstSucceeding(
    const std::vector<VornRecognitionAttempt>& attempts,
    const std::function<VornOCRResult(const VornRecognitionAttempt&)>& attempt) {
    std::exception_ptr last;
    for (const VornRecognitionAttempt& one : attempts) {
        try {
            return attempt(one);
        } catch (...) {
            last = std::current_exception();
        }
    }
    if (last) {
        std::rethrow_exception(last);
    }
    return {};
}

std::string VornVisionServices::engineLanguages(const std::vector<std::string>& languages) {
    std::vector<std::string> names;
    for (const std::string& code : languages) {
        std::string name = engineLanguage(code);
        if (std::find(names.begin(), names.end(), name) == names.end()) {
            names.push_back(std::move(name));
        }
    }
    if (names.empty()) {
        return "eng";
    }
    std::string joined;
    for (const std::string& name : names) {
        joined += (joined.empty() ? "" : "+") + name;
    }
    return joined;
}

VornOCRResult VornVisionServices::recognizeText(const VornBitmapImage& image, const std::vector<std::string>& languages,
                                                bool accurate) {
    // Bad input is refused once, before any attempt: retrying cannot make it good.
    validate(image);
    const std::string names = engineLanguages(languages);
    return firstSucceeding(recognitionAttempts(accurate),
                           [&](const VornRecognitionAttempt& attempt) { return runAttempt(image, names, attempt); });
}

VornFeaturePrint VornVisionServices::featurePrint(const VornBitmapImage& image) {
    validate(image);
    if (isEmpty(image)) {
        throw VornVisionError(VornVisionError::featurePrintUnavailable, "Could not compute image feature print.");
    }
    std::vector<float> elements(VornFeaturePrint::elementCount, 0.0f);
    const cv::Mat gray = grey(image);

    cv::Mat layout;
    cv::resize(gray, layout, cv::Size(16, 16), 0, 0, cv::INTER_AREA);
    layout.convertTo(layout, CV_32F);
    const float mean = float(cv::mean(layout)[0]);
    for (int i = 0; i < 256; ++i) {
        elements[std::size_t(i)] = layout.at<float>(i / 16, i % 16) - mean;
    }
    normalize(elements, 0, 256, 1.0f);

    cv::Mat small;
    cv::resize(gray, small, cv::Size(64, 64), 0, 0, cv::INTER_AREA);
    small.convertTo(small, CV_32F);
    cv::Mat gx, gy;
    cv::Sobel(small, gx, CV_32F, 1, 0);
    cv::Sobel(small, gy, CV_32F, 0, 1);
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) {
            const float dx = gx.at<float>(y, x);
            const float dy = gy.at<float>(y, x);
            const float magnitude = std::sqrt(dx * dx + dy * dy);
            if (magnitude <= 0) {
                continue;
            }
            // Direction without sign: a dark-to-light edge and its mirror fall in one bin.
            double angle = std::atan2(dy, dx);
            if (angle < 0) {
                angle += std::numbers::pi;
            }
            const int bin = std::min(7, int(angle / std::numbers::pi * 8));
            const int cell = (y / 16) * 4 + x / 16;
            elements[256 + std::size_t(cell * 8 + bin)] += magnitude;
        }
    }
    normalize(elements, 256, 384, 1.0f);

    const cv::Mat rgba = rgbaView(image);
    std::array<std::array<double, 8>, 3> histogram{};
    for (int y = 0; y < rgba.rows; ++y) {
        const auto* row = rgba.ptr<std::uint8_t>(y);
        for (int x = 0; x < rgba.cols; ++x) {
            for (int c = 0; c < 3; ++c) {
                histogram[std::size_t(c)][row[x * 4 + c] / 32] += 1;
            }
        }
    }
    const double count = double(rgba.rows) * rgba.cols;
    const double share = 1.0 / std::sqrt(3.0);
    for (std::size_t c = 0; c < 3; ++c) {
        for (std::size_t bin = 0; bin < 8; ++bin) {
            elements[384 + c * 8 + bin] = float(histogram[c][bin] / count * share);
        }
    }
    return VornFeaturePrint(std::move(elements));
}

std::pair<double, double> VornVisionServices::translationalOffset(const VornBitmapImage& from,
                                                                  const VornBitmapImage& to) {
    validate(from);
    validate(to);
    if (isEmpty(from) || isEmpty(to)) {
        return {0, 0};
    }
    const int width = std::max(from.width, to.width);
    const int height = std::max(from.height, to.height);
    // Both on one canvas, lower-left corners together, the rest filled with the image's mean.
    auto canvas = [&](const VornBitmapImage& image, bool& uniform) {
        const cv::Mat g = grey(image);
        cv::Mat values;
        g.convertTo(values, CV_64F);
        cv::Scalar mean, deviation;
        cv::meanStdDev(values, mean, deviation);
        uniform = deviation[0] < 1e-6;
        cv::Mat out(height, width, CV_64F, cv::Scalar(mean[0]));
        values.copyTo(out(cv::Rect(0, height - image.height, image.width, image.height)));
        return out;
    };
    bool fromUniform = false;
    bool toUniform = false;
    const cv::Mat a = canvas(from, fromUniform);
    const cv::Mat b = canvas(to, toUniform);
    if (fromUniform || toUniform) {
        return {0, 0};
    }
    cv::Mat window;
    cv::createHanningWindow(window, a.size(), CV_64F);
    const cv::Point2d moved = cv::phaseCorrelate(a, b, window);
    // `moved` is how far the content went from `from` to `to`, in rows downwards. Aligning `to`
    // with `from` undoes that, and y counts upwards.
    const double dx = -moved.x;
    const double dy = moved.y;
    return {dx == 0 ? 0.0 : dx, dy == 0 ? 0.0 : dy};
}
