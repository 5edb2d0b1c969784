#pragma once
// The main window: every control of the measuring workflow, the menu, and the
// event handlers. Handlers only move text between controls and the measuring
// session, and draw; every error they raise ends up in one place, `handle`,
// which shows the error box.
#include "measure/FrameTable.h"
#include "measure/Methods.h"
#include "session/MeasuringSession.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QRect>
#include <QString>
#include <QTimer>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QDateTimeEdit;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSlider;
class QSpinBox;
class QStatusBar;

namespace corvane {

class PanelWidget;
class SpeckleDialog;
class RadioGroup;
class TransportWidget;
class TAboutBox;
class TForm3;
class RunWindow;
class TForm5;

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // The side windows, created after this one; `FormCreate` runs before
    // they exist and never touches them.
    void setSideWindows(TForm3* graphs, TForm5* zoom, TAboutBox* about);

    // ---- what tests and other front ends may replace --------------------
    // Shows an error box with the finished text (full stop already added).
    std::function<void(const QString& message)> showError;
    // The "Confirm" box with the results line; true for "OK".
    std::function<bool(const QString& line)> confirm;
    // The file-open dialog; an empty text means cancelled.
    std::function<QString()> chooseVideoFile;
    // Asks for the frame rate of a recording whose frames have no times
    // (`question` says which file); 0 means cancelled.
    std::function<double(const QString& question)> askFrameRate;
    // The calibration file dialog, for saving or for opening; an empty text
    // means cancelled.
    std::function<QString(bool save)> chooseCalibrationFile;
    // Asks whether to save a line that still holds a box's placeholder
    // (`question` names them); true to save it as it is.
    std::function<bool(const QString& question)> confirmPlaceholders;
    // Shows the Speckle panel (modal); tests replace it to drive the panel.
    std::function<void(SpeckleDialog& panel)> showSpeckle;
    // "Report...": the results.csv files to combine (none: cancelled), then
    // the report's page; its tables go beside it (empty: cancelled).
    std::function<QStringList()> chooseReportInputs;
    std::function<QString()> chooseReportPage;
    // The WDS method code for the report's listing of measures; empty: no
    // listing; none (cancelled): no report.
    std::function<std::optional<QString>()> chooseReportMethodCode;
    // Folder of results.txt; empty means beside the executable.
    void setResultsDirectory(const QString& dir) { resultsDirectory_ = dir; }
    QString resultsFilePath() const;
    // Decimal separator of shown and read numbers (the system's by default).
    void setDecimalSeparator(char c) { decimalSeparator_ = c; }
    char decimalSeparator() const { return decimalSeparator_; }

    MeasuringSession& session() { return session_; }
    // What Panel1 shows: the frame on screen with the boxes and marks.
    PanelSurface& panel() { return panel_; }
    WorkingState& state() { return session_.state(); }
    Player& player() { return session_.player(); }
    bool running() const { return running_; }
    // Width of the window with its frame; where the platform draws none, the
    // classic borders are counted, so side windows keep their places.
    int outerWidth() const;

    // Runs one handler: any error it raises is shown in the error box and
    // goes no further. Every signal of every control comes through here.
    void handle(const std::function<void()>& handler);

    // ---- handlers, named after control and event ------------------------
    void FormCreate();
    void OpenAVI1Click();
    void openVideoFile(const QString& path);
    // Opens a video named from outside the window (the command line, a drop)
    // as the menu does, with the menu's messages.
    void openGivenFile(const QString& path);
    void Button11Click();
    void Button12Click();
    void Button17Click();
    void Button18Click();
    void TrackBar1Change();
    void Button1Click();
    void Button2Click();
    void Timer1Timer();
    void Button7Click();
    void Button3Click();
    void Button4Click();
    void Panel1MouseUp(Qt::MouseButton button, int x, int y);
    void Button6Click();
    void Button15Click();
    void Button16Click();
    void CheckBox1Click();
    void Button5Click();
    void Button9Click();
    void DateTimePicker1Change();
    void DateTimePicker1Click();
    void DateTimePicker1Exit();
    void Button13Click();
    void Button14Click();
    void Button10Click();
    void SaveResults1Click();
    void CheckBox2Click();
    // "File" > "Quit".
    void Quit1Click();
    // "Help" > "Usage" (F1): how the window is used, from the README or the
    // manual page.
    void Help1Click();
    // "Fit": a frame larger than the panel shown whole, scaled down.
    void CheckBox3Click();
    void Button8Click();
    void About1Click();
    // "File" > "Report...": the saved measurements combined per pair and
    // night into a page, a CSV and a Markdown table.
    void Report1Click();
    // "View" > "Run": the run's frames plotted (see RunPlots).
    void Run1Click();
    // "File" > "Save Calibration...": the measured drift's calibration.
    void SaveCalibration1Click();
    // "File" > "Use Calibration...": the reduction takes the pixel scale and
    // the drift direction from the file until "Stop Using Calibration".
    void UseCalibration1Click();
    // The Speckle panel for the open video: the star clicked (or the
    // brightest), the range, the declination and the calibration in use.
    void Speckle1Click();
    void StopCalibration1Click();
    // "Find pair": the two brightest stars on the frame on screen clicked
    // as the primary and the secondary.
    void FindPairButtonClick();

    // ---- methods the handlers share -------------------------------------
    void printframes();
    void cleardata();
    void reset();
    // What the window shows after a reset: the track bar on the start frame,
    // "Primary" selected, the read-outs and results empty.
    void showReset();
    void cycle();
    // Frame n measured by hand ("<-", "+>") and shown.
    void step(int32_t frame);
    void drawpoints();
    void drawtrail();
    void drawzoom();
    void epoch();
    void previewdata();
    PairTexts pairTexts();
    MeasuredTexts measuredTexts();
    QString resultsLine();
    // The row of results.csv for the result on screen.
    std::string resultsCsvRow();
    void outputdata();
    // The frame counts of the table: measured, accepted, clipped as outliers.
    void showCounts();
    // The warnings about the result on screen (none: the bar is empty).
    void showWarnings(const std::vector<std::string>& warnings);
    // Something the result depends on changed: a change the reduction alone
    // follows (the declination, the orientation, the clipping, an accepted
    // frame, the calibration) computes the result again at once; any other
    // (the method, the box size, the range) clears it. Save Results is
    // enabled only while a result computed from the inputs on screen is shown.
    void inputsChanged(bool reductionOnly);
    // The results and their read-outs emptied, Save Results disabled.
    void clearResults();
    // The box or button a refusal is about, with its caption.
    QWidget* controlOf(RequestField field) const;
    QString captionOf(RequestField field) const;
    // The method of the "Method" group.
    Method chosenMethod() const;
    void reduceAndDraw();
    // The transport buttons moved the player: track bar and read-outs follow.
    void transportMoved();
    // No pair: the three boxes and the expected offset back to nothing, and
    // "GO!", "<-", "+>" and "Calculate" disabled until both stars are clicked.
    void clearSelection();
    // The panel's view after the frame size or "Fit" changed.
    void viewChanged();
    // During measuring the panel's view keeps the system box in sight.
    void followSystemBox();
    // Cancels a running automatic run ("Stop" or Escape).
    void cancelRun() { cancelRequested_ = true; }
    // A recording whose frames have no times asks for the frame rate; false
    // when the user gives none.
    bool askForFrameRate();
    // Measuring needs frame times: asked for once more, else refused with
    // the message that names the file.
    void requireFrameTimes();
    // The open video's timing in the status bar.
    void showTiming();
    // The stretch boxes take the open video's black and white points, or
    // are disabled where its frames show their own values.
    void showStretch();
    // The user moved the black or the white point.
    void StretchChange(QSpinBox* moved);

    // Uses the calibration read from `path` (what "Use Calibration..." does
    // with the file chosen).
    void useCalibrationFile(const QString& path);
    // "Pixels/arcsec" and the status bar while a calibration is used, or not.
    void showCalibration();

    // The picker's value (UT); the widget shows it.
    QDateTime observationDateTime() const { return observation_; }
    void setObservationDateTime(const QDateTime& utc);

    // ---- controls, named as the user's manual names them ----------------
    // The numbered names stay (the window's look and its tests rely on them);
    // what each one is, by its caption or the caption of its label:
    //   Edit1 "Designation"     Edit2..4 "RA (HH MM SS)"   Edit5..7 "Dec (+DD MM SS)"
    //   Edit8 "box size"        Edit9 "Frame:"             Edit10 "Time (ms):"
    //   Edit11 "Sep (px)"       Edit12 "Angle (screen)"    Edit13 "Primary Slope"
    //   Edit14 "Secondary Slope" Edit15 "Postion Angle"    Edit16 "Separation"
    //   Edit17 "Epoch (J)"      Edit18 "(B)"               Edit19 "Pixels/arcsec"
    //   Button1 "Step"          Button2 "Clear"            Button3 "-" (box size)
    //   Button4 "+" (box size)  Button5 "Draw"             Button6 "GO!" / "Stop"
    //   Button7 "Reset"         Button8 "Graph"            Button9 "Calculate"
    //   Button10 "Save Results" Button11 "Start Frame"     Button12 "End Frame"
    //   Button13 "h+"           Button14 "h-"              Button15 "<-" (measure back)
    //   Button16 "+>" (measure on) Button17 "<" (frame back) Button18 ">" (frame on)
    //   CheckBox1 "Active" (the frame accepted)  CheckBox2 "Zoom"  CheckBox3 "Fit"
    //   RadioGroup1 "Select Star"  RadioGroup2 "Orientation"  RadioGroup3 "Method"
    //   TrackBar1 the frame slider  Panel1 the frame  MediaPlayer1 the transport
    //   GroupBox9 "Frames": MeasuredFramesEdit "measured", AcceptedFramesEdit
    //   "accepted", ClippedFramesEdit "clipped", EffectiveFramesEdit "effective"
    //   (what the accepted frames are worth to the errors); GroupBox8: the "±" read-outs
    //   PositionAngleErrorEdit ("deg") and SeparationErrorEdit ("arcsec") beside
    //   Edit15 and Edit16, and DeltaMagEdit ("delta m") the magnitude difference;
    //   ClipCheckBox "Reject outliers (3 sigma)"; WarningLabel the warnings about the result
    QGroupBox* GroupBox1 = nullptr;
    QLabel *Label1 = nullptr, *Label2 = nullptr, *Label3 = nullptr, *Label4 = nullptr,
           *Label5 = nullptr, *Label6 = nullptr, *Label7 = nullptr, *Label8 = nullptr,
           *Label9 = nullptr, *Label10 = nullptr, *Label11 = nullptr, *Label12 = nullptr,
           *Label13 = nullptr, *Label14 = nullptr, *Label15 = nullptr, *Label16 = nullptr,
           *Label17 = nullptr, *Label18 = nullptr, *Label19 = nullptr, *Label20 = nullptr,
           *Label21 = nullptr;
    QLineEdit *Edit1 = nullptr, *Edit2 = nullptr, *Edit3 = nullptr, *Edit4 = nullptr,
              *Edit5 = nullptr, *Edit6 = nullptr, *Edit7 = nullptr, *Edit8 = nullptr,
              *Edit9 = nullptr, *Edit10 = nullptr, *Edit11 = nullptr, *Edit12 = nullptr,
              *Edit13 = nullptr, *Edit14 = nullptr, *Edit15 = nullptr, *Edit16 = nullptr,
              *Edit17 = nullptr, *Edit18 = nullptr, *Edit19 = nullptr;
    QLineEdit *StartFrameEdit = nullptr, *StopFrameEdit = nullptr, *NotesEdit = nullptr;
    QLineEdit *MeasuredFramesEdit = nullptr, *AcceptedFramesEdit = nullptr,
              *ClippedFramesEdit = nullptr, *EffectiveFramesEdit = nullptr,
              *PositionAngleErrorEdit = nullptr, *SeparationErrorEdit = nullptr,
              *DeltaMagEdit = nullptr;
    QLabel* EffectiveFramesLabel = nullptr;
    QCheckBox* ClipCheckBox = nullptr;
    QLabel* WarningLabel = nullptr;
    QLabel *PositionAngleUnitLabel = nullptr, *SeparationUnitLabel = nullptr,
           *DeltaMagUnitLabel = nullptr;
    QDateTimeEdit* DateTimePicker1 = nullptr;
    QPushButton *Button1 = nullptr, *Button2 = nullptr, *Button3 = nullptr, *Button4 = nullptr,
                *Button5 = nullptr, *Button6 = nullptr, *Button7 = nullptr, *Button8 = nullptr,
                *Button9 = nullptr, *Button10 = nullptr, *Button11 = nullptr, *Button12 = nullptr,
                *Button13 = nullptr, *Button14 = nullptr, *Button15 = nullptr, *Button16 = nullptr,
                *Button17 = nullptr, *Button18 = nullptr;
    RadioGroup *RadioGroup1 = nullptr, *RadioGroup2 = nullptr, *RadioGroup3 = nullptr;
    QCheckBox *CheckBox1 = nullptr, *CheckBox2 = nullptr, *CheckBox3 = nullptr;
    QGroupBox *GroupBox2 = nullptr, *GroupBox3 = nullptr, *GroupBox4 = nullptr,
              *GroupBox5 = nullptr, *GroupBox6 = nullptr, *GroupBox7 = nullptr,
              *GroupBox8 = nullptr, *GroupBox9 = nullptr;
    QSlider* TrackBar1 = nullptr;
    PanelWidget* Panel1 = nullptr;
    TransportWidget* MediaPlayer1 = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QLabel* StatusPanels[3] = {nullptr, nullptr, nullptr};
    // Beyond the three panels: how regularly the open video's frames were taken.
    QLabel* TimingPanel = nullptr;
    // The display's black and white points for deep and faint frames.
    QLabel *StretchBlackLabel = nullptr, *StretchWhiteLabel = nullptr;
    QSpinBox *StretchBlackEdit = nullptr, *StretchWhiteEdit = nullptr;
    QMenu *File1 = nullptr, *View1 = nullptr, *A1 = nullptr, *Help1 = nullptr;
    QAction *OpenAVI1 = nullptr, *NewDataFile1 = nullptr, *OpenDataFile1 = nullptr,
            *SaveDataFile1 = nullptr, *SaveResults1 = nullptr, *About1 = nullptr,
            *SaveCalibration1 = nullptr, *UseCalibration1 = nullptr, *StopCalibration1 = nullptr,
            *Quit1 = nullptr, *Usage1 = nullptr, *Speckle1 = nullptr, *Report1 = nullptr,
            *Run1 = nullptr;
    RunWindow* RunWindow1 = nullptr; // made at the first "Run"
    QPushButton* FindPairButton = nullptr;
    QTimer Timer1;
    QString OpenDialog1Filter;

protected:
    void closeEvent(QCloseEvent* event) override;
    // The panel takes what the window has beyond its classic size; the
    // controls right of it and below it move along.
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    // Where each control of the client area stands at the classic size.
    std::vector<std::pair<QWidget*, QRect>> classicPlaces_;
    int menuHeight_ = 0;
    // How far a "Method" group of more than three buttons pushes the left
    // column's foot down, and the window's smallest height with it.
    int columnGrowth_ = 0;
    void buildMenu();
    void connectHandlers();

    // Setting a control from code runs its change handler only when the
    // value really changes, and runs it inside the current handler, so an
    // error there ends the current handler as well.
    void setTrackBarPosition(int position);
    void setActiveChecked(bool checked);
    // Max below Min is ignored; a Position clamped by the new Max counts as a change.
    void setTrackBarMax(int max);
    void pickerEdited(const QDateTime& value);

    int readInt(const QLineEdit* edit) const;
    // The per-frame read-outs "Sep (px)" and "Angle (screen)" show this many decimals.
    static constexpr int kReadoutDecimals = 2;
    QString roundedText(double value, int decimals) const;
    // Row of the frame on screen, or nullptr when the table has no such row.
    FrameRow* currentRow();
    // One piece of a run, then the next one queued or the run ended.
    void runPiece();
    // The frame a run stands on, whole, on the panel, the track bar and the zoom.
    void showRunFrame();
    void endRun();
    Method runMethod_ = kDefaultMethod;
    // "Reject outliers (3 sigma)": the clipping limit in standard deviations.
    static constexpr double kClipSigma = 3.0;
    // The reduction shown, kept for the save; none after a reset or a change
    // of what it was computed from.
    std::optional<ReductionResult> result_;
    // The table was reduced since the last reset, so a change of the
    // declination, orientation or clipping computes it again.
    bool reduced_ = false;
    // The Dec boxes were typed into since the video was opened: their
    // default is no declination.
    bool decTyped_ = false;
    // What changed since the frames were measured that the reduction cannot
    // follow ("the Method"); empty while the table fits the inputs on screen.
    QString staleReason_;
    // The settings of the reduction as the boxes read now.
    ReductionSettings reductionSettings() const;
    // The folder of the last file opened or saved, kept between sessions.
    QString lastFolder() const;
    void rememberFolder(const QString& file);
    // Frames rejected as outliers since the reset.
    int32_t clipped_ = 0;
    int runSelection_ = 0;
    // The frame read-outs as printframes last took them; their texts are
    // written when they are shown.
    struct Readouts {
        bool hasRow = false;
        bool hasTime = false; // the frames have times
        float sep = 0, angle = 0;
        int32_t frame = 0, timeMs = 0;
    } readouts_;
    bool readoutsPending_ = false;
    void showReadouts();

    PanelSurface panel_; // before the session, whose player shows frames on it
    MeasuringSession session_;
    TForm3* Form3 = nullptr;
    TForm5* Form5 = nullptr;
    TAboutBox* AboutBox = nullptr;
    QString resultsDirectory_;
    QString calibrationName_; // the file of the calibration in use
    char decimalSeparator_ = '.';
    QDateTime observation_;
    bool running_ = false;
    bool cancelRequested_ = false;
    int handlerDepth_ = 0;
    QElapsedTimer clock_;
    // The run's time by clock_, in microseconds: spent measuring, spent
    // between pieces, and when the last piece stopped measuring (-1 before
    // the first).
    struct RunPace {
        qint64 measuredUs = 0, shownUs = 0, measuredUntilUs = -1;
    };
    RunPace pace_;
};

} // namespace corvane
