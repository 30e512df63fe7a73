#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A bitmap in memory: 8-bit RGBA, rows top first, `bytesPerRow` apart (at least 4 * width).
// Callers with a toolkit image convert it once (Qt: QImage::Format_RGBA8888).
struct VornBitmapImage {
    int width = 0;
    int height = 0;
    std::size_t bytesPerRow = 0;
    std::vector<std::uint8_t> pixels;

    VornBitmapImage() = default;
    // Tightly packed rows; every pixel opaque black.
    VornBitmapImage(int width, int height);

    // The largest image the services take: beyond it a request is refused before any work.
    static constexpr int maximumSide = 16384;
    static constexpr std::int64_t maximumPixels = std::int64_t(8192) * 8192;
};

// A failure of the vision services, in the style of the platform's error objects: a domain, a code
// and a description (English; these errors reach developers, not users).
class VornVisionError : public std::exception {
public:
    static constexpr std::string_view domain = "VornVisionServices";

    enum Code : int {
        featurePrintUnavailable = 1,  // "Could not compute image feature print."
        invalidImage = 2,             // dimensions and pixel buffer disagree, or too large
        invalidLanguage = 3,          // a language code that cannot name recognition data
        recognitionUnavailable = 4,   // the recognition engine could not start (data missing)
        recognitionFailed = 5,        // the engine started but could not read the image
    };

    VornVisionError(int code, std::string description) : code_(code), description_(std::move(description)) {}

    int code() const { return code_; }
    const std::string& localizedDescription() const { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    int code_;
    std::string description_;
};

// A rectangle in normalized image coordinates: 0 to 1 on both axes, origin at the lower left.
struct VornNormalizedRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    friend bool operator==(const VornNormalizedRect&, const VornNormalizedRect&) = default;
};

// One recognized line: its best reading, its box and that reading's confidence (0 to 1).
struct VornOCRLine {
    std::string text;
    VornNormalizedRect boundingBox;
    float confidence = 0;

    VornOCRLine() = default;
    VornOCRLine(std::string text, VornNormalizedRect boundingBox, float confidence)
        : text(std::move(text)), boundingBox(boundingBox), confidence(confidence) {}

    friend bool operator==(const VornOCRLine&, const VornOCRLine&) = default;
};

// The recognized lines in reading order.
struct VornOCRResult {
    std::vector<VornOCRLine> lines;

    VornOCRResult() = default;
    explicit VornOCRResult(std::vector<VornOCRLine> lines) : lines(std::move(lines)) {}

    // The lines' texts with one line feed between them; empty for no lines.
    std::string fullText() const;

    friend bool operator==(const VornOCRResult&, const VornOCRResult&) = default;
};

// Where an attempt at recognition runs. The recognition engine here has no accelerator of its own,
// so both kinds run on the processor; the second attempt is a clean retry with a fresh engine.
enum class VornComputeDevice { any, cpu };
enum class VornRecognitionLevel { fast, accurate };

struct VornRecognitionAttempt {
    VornRecognitionLevel level;
    VornComputeDevice device;
    friend bool operator==(const VornRecognitionAttempt&, const VornRecognitionAttempt&) = default;
};

// An image's descriptor for comparing images with each other. Layout (revision 1), 408 numbers:
//  - 256: the image in grey, box-filtered down to 16 x 16, less its mean, scaled to length 1
//    (the coarse layout of light and dark);
//  - 128: over a 4 x 4 grid of cells of the 64 x 64 grey image, a histogram of gradient directions
//    in 8 bins weighted by gradient strength, scaled to length 1 as a whole (edges and strokes);
//  - 24: for each of red, green and blue an 8-bin histogram of the pixels, each channel's summing
//    to 1, scaled by 1/sqrt(3) (the colours).
// Each part has length at most 1, so the distance between two prints is at most 2 * sqrt(3).
class VornFeaturePrint {
public:
    static constexpr int revision = 1;
    static constexpr std::size_t elementCount = 256 + 128 + 24;

    explicit VornFeaturePrint(std::vector<float> elements);

    const std::vector<float>& elements() const { return elements_; }

    // Euclidean distance: 0 for the same image, small for similar ones.
    float distance(const VornFeaturePrint& other) const;

private:
    std::vector<float> elements_;
};

// Text recognition (Tesseract), image descriptors and image registration (phase correlation). Each
// operation is synchronous, may take long, shares nothing and may run on any thread.
struct VornVisionServices {
    // Up to three attempts (the chosen level anywhere, the chosen level on the processor, the fast
    // level on the processor); the first that succeeds gives the result, the last one's error is
    // thrown. `languages`: codes such as "en", "tr-TR" or the engine's own "eng", "tur", in order of
    // preference; an empty list reads English.
    static VornOCRResult recognizeText(const VornBitmapImage& image, const std::vector<std::string>& languages,
                                       bool accurate);

    // Throws featurePrintUnavailable for an image without pixels, invalidImage for a malformed one.
    static VornFeaturePrint featurePrint(const VornBitmapImage& image);

    // The translation (dx, dy) in pixels that aligns `to` with `from`, x to the right and y upwards
    // (the lower-left origin of the normalized boxes): when `to` shows `from`'s content moved 7
    // pixels right and 4 pixels down, the offset is (-7, +4). Images of different sizes are compared
    // on a common canvas anchored at their lower-left corners. (0, 0) when either image is empty or
    // holds a single colour, so that nothing can be registered.
    static std::pair<double, double> translationalOffset(const VornBitmapImage& from, const VornBitmapImage& to);

    // The attempts `recognizeText` makes, in order.
    static std::vector<VornRecognitionAttempt> recognitionAttempts(bool accurate);

    // Runs `attempt` for each of `attempts` in order and returns the first result; when every
    // attempt throws, rethrows the last error.
    static VornOCRResult firstSucceeding(const std::vector<VornRecognitionAttempt>& attempts,
                                         const std::function<VornOCRResult(const VornRecognitionAttempt&)>& attempt);

    // The recognition engine's names of the data for `languages` ("eng+tur"); throws invalidLanguage
    // for a code that is not letters, digits, '-' and '_' of sensible length.
    static std::string engineLanguages(const std::vector<std::string>& languages);
};
