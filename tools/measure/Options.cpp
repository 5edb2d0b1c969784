#include "Options.h"

#include "common/Error.h"
#include "common/NumberText.h"
#include "measure/Methods.h"
#include "measure/Selection.h"
#include "reduce/Clipping.h"
#include "session/SpeckleVideo.h"

#include <cctype>
#include <cmath>
#include <set>

namespace corvane::tool {

namespace {

const char* const kUsageText =
    "usage: corvane-measure VIDEO --primary X,Y --secondary X,Y --dec DEC [options]\n"
    "       corvane-measure VIDEO --primary X,Y --secondary X,Y --calibration FILE [options]\n"
    "       corvane-measure --batch LIST [--jobs N]\n"
    "Measures a double star in a drift video exactly as the Corvane window does:\n"
    "open, click the primary, click the secondary, \"GO!\", then the reduction.\n"
    "  --primary X,Y         frame pixel of the primary click (required)\n"
    "  --secondary X,Y       frame pixel of the secondary click (required, but for\n"
    "                        one drifting star with --save-calibration)\n"
    "  --primary auto --secondary auto\n"
    "                        the two brightest stars of the primary frame, the\n"
    "                        brighter as the primary (\"Find pair\")\n"
    "  --save-calibration FILE\n"
    "                        write the drift's calibration (pixel scale and drift\n"
    "                        direction) as JSON; one star is enough for it\n"
    "  --calibration FILE    reduce with this calibration instead of the drift, so\n"
    "                        a tracked video is measured; several are combined\n"
    "  --batch LIST          measure every video of LIST, one a line with its\n"
    "                        options (# comments); JSON Lines on stdout\n"
    "  --jobs N              videos measured at once in a batch (the cores)\n"
    "  --primary-frame N     frame on screen at the primary click (the start frame)\n"
    "  --start N, --stop N   measuring range (0 and the video's length)\n"
    "  --box N               star box size, even, 4 to 40 (12)\n"
    "  --method M            @METHODS@\n"
    "  --dec DEC             declination (required): \"+DD MM SS\", \"+DD:MM:SS\",\n"
    "                        \"+DD MM\", \"+DD\" or decimal degrees (\"+30.25\")\n"
    "  --orientation O       correct | mirrored (correct)\n"
    "  --clip SIGMA          reject the accepted frames whose separation or screen\n"
    "                        angle lies more than SIGMA standard deviations from\n"
    "                        the mean (off; the window's 3 sigma is --clip 3)\n"
    "  --date \"YYYY-MM-DD HH:MM\"\n"
    "                        observation date and time in UT (the file's time)\n"
    "  --fps N               frames per second of a recording without time\n"
    "                        stamps (a FITS cube, a SER file without them)\n"
    "  --json                print one JSON object instead of text\n"
    "  --frames FILE         write the frame table as CSV\n"
    "  --plot FILE.png|FILE.svg\n"
    "                        draw the run: separation and screen angle per frame,\n"
    "                        the drift's residuals and the histograms\n"
    "  --save                append the results line to the results file (only\n"
    "                        when results were produced) and say where on stderr\n"
    "  --results FILE        the results file (results.txt beside the program, or\n"
    "                        in ~/.local/share/corvane for an installed copy)\n"
    "  --designation TEXT, --ra \"HH MM SS\", --notes TEXT\n"
    "                        the star data of the results line\n"
    "  --method speckle      a pair closer than the seeing, from short exposures:\n"
    "                        --primary is the star (auto: the brightest pixel),\n"
    "                        no --secondary; the scale from --calibration or\n"
    "                        the video's own drift (with --dec)\n"
    "  --reference VIDEO     speckle: a single star recorded the same way, whose\n"
    "                        spectrum is divided out (a radial fit without it)\n"
    "  --speckle-box N       speckle: the box's side, even, 16 to 512 (64)\n"
    "  --speckle-image FILE  speckle: save the autocorrelogram as a PNG\n"
    "  --correct-bias        take the bias the artificial-star test finds off the\n"
    "                        result (said in the JSON and results.csv); without\n"
    "                        it the warning offers the corrected value\n"
    "  --bench               also time the run against decoding alone (frame\n"
    "                        rates by the process's CPU time)\n"
    "  --help, --version     print this text or the version and exit\n"
    "Warnings about a doubtful result go to stderr (and into the JSON).\n"
    "Exit status: 0 results, 3 no result (fewer than 16 accepted frames, said on\n"
    "stderr), 1 error, 2 usage error; a batch: 0 when every video gave a result,\n"
    "1 otherwise.\n";

// The option names of every method joined by `sep`: the default first, then
// the others in the window's order.
std::string methodNames(const char* sep) {
    std::string names = methodEntry(kDefaultMethod).optionName;
    for (std::size_t i = 0; i < methodCount(); ++i)
        if (methodEntries()[i].method != kDefaultMethod)
            names += sep + std::string(methodEntries()[i].optionName);
    // Speckle measures the whole run at once: not one of the per-frame methods.
    return names + sep + kSpeckleMethodName;
}

} // namespace

std::string usageText() {
    std::string text = kUsageText;
    const std::string methods =
        methodNames(" | ") + " (" + methodEntry(kDefaultMethod).optionName + ")";
    text.replace(text.find("@METHODS@"), 9, methods);
    return text;
}

namespace {

// The speckle box's sides: a few seeing discs, up to a large camera's frame.
constexpr int32_t kMinSpeckleBox = 16;
constexpr int32_t kMaxSpeckleBox = 512;

// The value of --primary and --secondary that asks for the pair to be found.
const char* const kAuto = "auto";

// Options that take a value, and options that are flags.
const std::set<std::string> kValueOptions = {"--primary",
                                             "--secondary",
                                             "--primary-frame",
                                             "--start",
                                             "--stop",
                                             "--box",
                                             "--method",
                                             "--dec",
                                             "--orientation",
                                             "--date",
                                             "--frames",
                                             "--results",
                                             "--designation",
                                             "--ra",
                                             "--notes",
                                             "--fps",
                                             "--clip",
                                             "--calibration",
                                             "--save-calibration",
                                             "--batch",
                                             "--jobs",
                                             "--reference",
                                             "--speckle-box",
                                             "--speckle-image",
                                             "--plot"};
// Options that may be given more than once, each value adding to the others.
const std::set<std::string> kRepeatableOptions = {"--calibration"};
const std::set<std::string> kFlagOptions = {"--json", "--save", "--bench", "--correct-bias"};

int32_t integerOf(const std::string& option, const std::string& text) {
    try {
        return textToInt(text);
    } catch (const Error& e) {
        throw UsageError(option + ": " + e.what());
    }
}

FramePoint pointOf(const std::string& option, const std::string& text) {
    const std::size_t comma = text.find(',');
    if (comma == std::string::npos || text.find(',', comma + 1) != std::string::npos)
        throw UsageError(option + ": '" + text + "' is not X,Y");
    FramePoint p;
    p.x = integerOf(option, text.substr(0, comma));
    p.y = integerOf(option, text.substr(comma + 1));
    // Frame pixels; checked against the frame's size once the video is open.
    if (p.x < 0 || p.y < 0)
        throw UsageError(option + ": " + text + " is not a frame pixel (negative)");
    return p;
}

int32_t frameOf(const std::string& option, const std::string& text) {
    const int32_t n = integerOf(option, text);
    if (n < 0)
        throw UsageError(option + ": a frame number is not negative");
    return n;
}

// Up to three words separated by blanks, as typed into three boxes; a box
// without a word stays empty.
std::vector<std::string> boxTexts(const std::string& option, const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) {
            if (!word.empty())
                words.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.empty())
        words.push_back(word);
    if (words.size() > 3)
        throw UsageError(option + ": '" + text + "' holds more than three parts");
    words.resize(3);
    return words;
}

// The declination as the three Dec boxes take it, from "+DD MM SS",
// "+DD:MM:SS", "+DD MM", "+DD" or decimal degrees. Throws UsageError naming
// the option for a declination the window's boxes would refuse.
std::vector<std::string> declinationBoxes(const std::string& option, const std::string& text) {
    std::string spaced = text;
    for (char& c : spaced)
        if (c == ':')
            c = ' ';
    std::vector<std::string> boxes = boxTexts(option, spaced);
    if (boxes[0].empty())
        throw UsageError(option + ": '" + text + "' is not a declination");
    // Minutes not given are "00" (the reduction needs a number there);
    // seconds not given stay empty, as an empty seconds box does.
    if (boxes[1].empty())
        boxes[1] = "00";
    try {
        checkDeclination(boxes[0], boxes[1], boxes[2], '.');
    } catch (const RequestError& e) {
        throw UsageError(option + ": " + e.what());
    }
    return boxes;
}

bool digits(const std::string& s, std::size_t pos, std::size_t count) {
    if (pos + count > s.size())
        return false;
    for (std::size_t i = pos; i < pos + count; ++i)
        if (!std::isdigit(static_cast<unsigned char>(s[i])))
            return false;
    return true;
}

int32_t numberAt(const std::string& s, std::size_t pos, std::size_t count) {
    return static_cast<int32_t>(std::stol(s.substr(pos, count)));
}

} // namespace

std::optional<CivilDateTime> parseDate(const std::string& text) {
    // YYYY-MM-DD HH:MM[:SS]
    const std::string& s = text;
    if (s.size() != 16 && s.size() != 19)
        return std::nullopt;
    if (!digits(s, 0, 4) || s[4] != '-' || !digits(s, 5, 2) || s[7] != '-' || !digits(s, 8, 2) ||
        (s[10] != ' ' && s[10] != 'T') || !digits(s, 11, 2) || s[13] != ':' || !digits(s, 14, 2))
        return std::nullopt;
    CivilDateTime t;
    t.year = numberAt(s, 0, 4);
    t.month = numberAt(s, 5, 2);
    t.day = numberAt(s, 8, 2);
    t.hour = numberAt(s, 11, 2);
    t.minute = numberAt(s, 14, 2);
    t.second = 0;
    if (s.size() == 19) {
        if (s[16] != ':' || !digits(s, 17, 2))
            return std::nullopt;
        t.second = numberAt(s, 17, 2);
    }
    if (!isValidDateTime(t))
        return std::nullopt;
    return t;
}

ToolOptions parseOptions(const std::vector<std::string>& args) {
    ToolOptions o;
    std::set<std::string> seen;
    bool primaryGiven = false, primaryAuto = false;
    bool secondaryGiven = false, secondaryAuto = false;
    bool decGiven = false;
    bool endOfOptions = false;

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string a = args[i];
        if (endOfOptions || a.size() < 2 || a[0] != '-') {
            if (!o.measure.video.empty())
                throw UsageError("more than one video given: '" + o.measure.video + "' and '" + a +
                                 "'");
            if (a.empty())
                throw UsageError("the video's name is empty");
            o.measure.video = a;
            continue;
        }
        if (a == "--") {
            endOfOptions = true;
            continue;
        }
        if (a == "--help" || a == "-h") {
            o.help = true;
            return o;
        }
        if (a == "--version") {
            o.version = true;
            return o;
        }
        std::string value;
        bool inlineValue = false;
        if (const std::size_t eq = a.find('='); a.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = a.substr(eq + 1);
            a = a.substr(0, eq);
            inlineValue = true;
        }
        const bool takesValue = kValueOptions.count(a) > 0;
        if (!takesValue && kFlagOptions.count(a) == 0)
            throw UsageError("unknown option " + a);
        if (!seen.insert(a).second && kRepeatableOptions.count(a) == 0)
            throw UsageError(a + " given twice");
        if (!takesValue) {
            if (inlineValue)
                throw UsageError(a + " takes no value");
        } else if (!inlineValue) {
            if (i + 1 >= args.size())
                throw UsageError(a + " needs a value");
            value = args[++i];
        }

        if (a == "--primary") {
            if (value == kAuto)
                primaryAuto = true;
            else
                o.measure.primary = pointOf(a, value);
            primaryGiven = true;
        } else if (a == "--secondary") {
            if (value == kAuto)
                secondaryAuto = true;
            else
                o.measure.secondary = pointOf(a, value);
            secondaryGiven = true;
        } else if (a == "--calibration") {
            if (value.empty())
                throw UsageError("--calibration needs a file name");
            o.measure.calibrationFiles.push_back(value);
        } else if (a == "--save-calibration") {
            if (value.empty())
                throw UsageError("--save-calibration needs a file name");
            o.saveCalibration = value;
            o.measure.calibrate = true;
        } else if (a == "--batch") {
            if (value.empty())
                throw UsageError("--batch needs a file name");
            o.batchList = value;
        } else if (a == "--jobs") {
            o.jobs = integerOf(a, value);
            if (o.jobs < 1)
                throw UsageError("--jobs: " + value + " is not a number of videos from 1 up");
        } else if (a == "--primary-frame") {
            o.measure.primaryFrame = frameOf(a, value);
        } else if (a == "--start") {
            o.measure.startFrame = frameOf(a, value);
        } else if (a == "--stop") {
            o.measure.stopFrame = frameOf(a, value);
        } else if (a == "--box") {
            o.measure.boxSize = integerOf(a, value);
            // The "-" and "+" buttons step an even size between these limits.
            if (o.measure.boxSize < kMinBoxSize || o.measure.boxSize > kMaxBoxSize ||
                o.measure.boxSize % kBoxSizeStep != 0)
                throw UsageError("--box: " + value + " is not an even size from 4 to 40");
        } else if (a == "--method" && value == kSpeckleMethodName) {
            o.measure.method = Method::Speckle;
        } else if (a == "--method") {
            const MethodEntry* m = methodNamed(value.c_str());
            if (!m)
                throw UsageError("--method: '" + value + "' is " +
                                 (methodCount() == 1 ? "neither " + methodNames(" nor ")
                                                     : "none of " + methodNames(", ")));
            o.measure.method = m->method;
        } else if (a == "--dec") {
            const std::vector<std::string> boxes = declinationBoxes(a, value);
            o.measure.decDegrees = boxes[0];
            o.measure.decMinutes = boxes[1];
            o.measure.decSeconds = boxes[2];
            decGiven = true;
        } else if (a == "--clip") {
            double sigma = 0;
            if (!tryTextToFloat(value, '.', sigma) || !(sigma >= kMinClipSigma) ||
                !std::isfinite(sigma))
                throw UsageError("--clip: '" + value +
                                 "' is not a number of standard deviations of at least " +
                                 formatGeneral(kMinClipSigma));
            o.measure.clipSigma = sigma;
        } else if (a == "--orientation") {
            if (value == "correct")
                o.measure.orientation = Orientation::CorrectOrInverted;
            else if (value == "mirrored")
                o.measure.orientation = Orientation::UprightReverted;
            else
                throw UsageError("--orientation: '" + value + "' is neither correct nor mirrored");
        } else if (a == "--date") {
            o.measure.observation = parseDate(value);
            if (!o.measure.observation)
                throw UsageError("--date: '" + value + "' is not a date and time YYYY-MM-DD HH:MM");
        } else if (a == "--json") {
            o.json = true;
        } else if (a == "--frames") {
            if (value.empty())
                throw UsageError("--frames needs a file name");
            o.framesCsv = value;
        } else if (a == "--plot") {
            const std::size_t dot = value.find_last_of('.');
            const std::string ext = dot == std::string::npos ? "" : value.substr(dot);
            if (ext != ".png" && ext != ".svg")
                throw UsageError("--plot: '" + value + "' names neither a .png nor a .svg file");
            o.plotPath = value;
        } else if (a == "--save") {
            o.save = true;
        } else if (a == "--results") {
            if (value.empty())
                throw UsageError("--results needs a file name");
            o.resultsPath = value;
        } else if (a == "--designation") {
            o.designation = value;
        } else if (a == "--ra") {
            const std::vector<std::string> boxes = boxTexts(a, value);
            o.raHours = boxes[0];
            o.raMinutes = boxes[1];
            o.raSeconds = boxes[2];
        } else if (a == "--notes") {
            o.notes = value;
        } else if (a == "--fps") {
            double fps = 0;
            if (!tryTextToFloat(value, '.', fps) || !(fps > 0))
                throw UsageError("--fps: '" + value + "' is not a frame rate above 0");
            o.measure.frameRate = fps;
        } else if (a == "--reference" || a == "--speckle-image") {
            if (value.empty())
                throw UsageError(a + " needs a file name");
            (a == "--reference" ? o.measure.referenceVideo : o.measure.speckleImage) = value;
        } else if (a == "--speckle-box") {
            o.measure.speckleBox = integerOf(a, value);
            if (o.measure.speckleBox < kMinSpeckleBox || o.measure.speckleBox > kMaxSpeckleBox ||
                o.measure.speckleBox % 2 != 0)
                throw UsageError("--speckle-box: " + value + " is not an even size from " +
                                 std::to_string(kMinSpeckleBox) + " to " +
                                 std::to_string(kMaxSpeckleBox));
        } else if (a == "--bench") {
            o.measure.bench = true;
        } else if (a == "--correct-bias") {
            o.measure.correctBias = true;
        }
    }

    if (!o.batchList.empty()) {
        // Every line of the list names its own video and options.
        for (const std::string& option : seen)
            if (option != "--batch" && option != "--jobs")
                throw UsageError(option + " does not go with --batch: give it on the list's lines");
        if (!o.measure.video.empty())
            throw UsageError("--batch takes no video: the list's lines name them");
        return o;
    }
    if (seen.count("--jobs"))
        throw UsageError("--jobs needs --batch");
    if (o.measure.video.empty())
        throw UsageError("no video given");
    if (!primaryGiven)
        throw UsageError("--primary X,Y is required");
    if (primaryAuto != (secondaryGiven && secondaryAuto) &&
        !(o.measure.method == Method::Speckle && !secondaryGiven))
        throw UsageError("--primary auto and --secondary auto go together");
    o.measure.findPair = primaryAuto;
    const bool speckle = o.measure.method == Method::Speckle;
    for (const char* option : {"--reference", "--speckle-box", "--speckle-image"})
        if (seen.count(option) && !speckle)
            throw UsageError(std::string(option) + " needs --method speckle");
    if (speckle) {
        // One star, whose box follows its light; the pair is in the spectrum.
        if (secondaryGiven && !secondaryAuto)
            throw UsageError("--method speckle takes no --secondary: the pair is found in the "
                             "star's speckles");
        for (const char* option : {"--clip", "--frames", "--save-calibration"})
            if (seen.count(option))
                throw UsageError(std::string(option) + " does not go with --method speckle");
    } else if (!secondaryGiven) {
        // One drifting star gives a calibration, but no pair to measure.
        if (o.saveCalibration.empty())
            throw UsageError("--secondary X,Y is required");
        o.measure.singleStar = true;
        if (o.save)
            throw UsageError("--save needs a pair: give --secondary X,Y");
    }
    if (!o.measure.calibrationFiles.empty() && !o.saveCalibration.empty())
        throw UsageError("--save-calibration needs the drift itself, not --calibration");
    // The pixel scale rests on the declination: a default would give a
    // wrong separation without a word. A calibration brings its own scale,
    // but a saved line still records the pair's declination.
    o.measure.declinationGiven = decGiven;
    if (!decGiven && (o.measure.calibrationFiles.empty() || o.save))
        throw UsageError("--dec is required: the declination of the pair, as \"+DD MM SS\"");
    if (o.measure.startFrame && o.measure.stopFrame &&
        *o.measure.stopFrame <= *o.measure.startFrame)
        throw UsageError("--stop " + std::to_string(*o.measure.stopFrame) +
                         " is not after --start " + std::to_string(*o.measure.startFrame) +
                         ": there is nothing to measure");
    // The star data only go into the results line.
    for (const char* option : {"--results", "--designation", "--ra", "--notes"})
        if (seen.count(option) && !o.save)
            throw UsageError(std::string(option) + " needs --save");
    return o;
}

} // namespace corvane::tool
