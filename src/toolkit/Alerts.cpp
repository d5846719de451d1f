#include "toolkit/Alerts.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>

#include "platform/gfx/RunLoop.h"
#include "platform/gfx/Surface.h"
#include "platform/gfx/Text.h"
#include "toolkit/CustomButton.h"
#include "toolkit/Frame.h"
#include "toolkit/GraphicsContext.h"
#include "toolkit/MacWindowManager.h"
#include "toolkit/Responders.h"

namespace
{
constexpr long kAlertWidth = 380;
constexpr double kTextSize = 12;
constexpr double kCaptionSize = 10;
constexpr long kLine = 16;
constexpr long kMargin = 16;
constexpr int kButtonTextSize = 8;

// An alert's button: its caption centred on its face (the plain text button writes it at its
// top-left corner).
class AlertButton : public SimpleTextButton
{
public:
    void Create(Window* parent, int newId, ButtonListener* newListener, long px, long py, long w, long h,
                char const* caption, Colour newFace)
    {
        face = newFace;
        SimpleTextButton::Create(parent, newId, newListener, px, py, w, h, caption, newFace);
    }

    void DrawRaised(GraphicsContext& gc) override
    {
        FillBackground(gc, face);
        gc.SetPenColour(255, 255, 255, 1, 255);
        gc.SetFont(kButtonTextSize, nullptr, false, false);
        // DrawString starts 2 pixels right of x with its baseline 8 below y; the capitals'
        // height (about 0.7 of the size) is centred.
        double const advance = gfx::TextAdvance(GetText(), kButtonTextSize);
        long const left = std::lround((static_cast<double>(width) - advance) / 2.0);
        long const baseline = std::lround((static_cast<double>(height) + 0.7 * kButtonTextSize) / 2.0);
        gc.DrawString(GetText(), left - 2, baseline - 8);
    }

private:
    Colour face;
};

class AlertFrame : public Frame, public ButtonListener
{
public:
    AlertFrame(char const* text, char const* caption, bool question) : question(question)
    {
        textLines = WrapText(text, kTextSize, kAlertWidth - 2 * kMargin);
        captionLines = WrapText(caption, kCaptionSize, kAlertWidth - 2 * kMargin);
        long h =
            kMargin + kLine * static_cast<long>(textLines.size() + captionLines.size()) + 8 + 24 + kMargin;
        long px = 100, py = 100;
        if (gfx::Surface* owner = MacWindowManager::OwnerSurface())
        {
            gfx::Point o = owner->ScreenOrigin();
            px = o.x + (owner->Width() - kAlertWidth) / 2;
            py = o.y + (owner->Height() - h) / 2;
        }
        CreateFrame(nullptr, px, py, kAlertWidth, h);
        long by = h - kMargin - 22;
        if (question)
        {
            yes.Create(this, 1, this, kAlertWidth - kMargin - 150, by, 70, 22, "Yes",
                       Colour(70, 110, 200, 255));
            no.Create(this, 2, this, kAlertWidth - kMargin - 70, by, 70, 22, "No", Colour(90, 90, 96, 255));
        }
        else
            yes.Create(this, 1, this, kAlertWidth - kMargin - 70, by, 70, 22, "OK",
                       Colour(70, 110, 200, 255));
    }

    int Run()
    {
        RunModal();
        return answer;
    }

    void ButtonPressed(int id) override { Answer(id); }

    bool KeyDown(unsigned key, char const*) override
    {
        if (key == gfx::kKeyReturn)
            Answer(1);
        else if (key == gfx::kKeyEscape)
            Answer(question ? 2 : 1);
        else
            return false;
        return true;
    }

    void Repaint(GraphicsContext& gc) override
    {
        FillBackground(gc, Colour(44, 44, 50, 255));
        gc.SetPenColour(110, 110, 120, 1, 255);
        gc.DrawRectOutline(0, 0, width - 1, height - 1);
        long at = kMargin - 8 + 4;
        gc.SetPenColour(255, 255, 255, 1, 255);
        gc.SetFont(static_cast<int>(kTextSize), nullptr, true, false);
        for (std::string const& line : textLines)
        {
            gc.DrawString(line.c_str(), kMargin - 2, at);
            at += kLine;
        }
        gc.SetPenColour(190, 190, 200, 1, 255);
        gc.SetFont(static_cast<int>(kCaptionSize), nullptr, false, false);
        for (std::string const& line : captionLines)
        {
            gc.DrawString(line.c_str(), kMargin - 2, at);
            at += kLine;
        }
    }

private:
    void Answer(int id)
    {
        answer = id;
        QuitModal();
    }

    bool question;
    int answer = 0;
    std::vector<std::string> textLines;
    std::vector<std::string> captionLines;
    AlertButton yes;
    AlertButton no;
};

bool CanShowAlerts()
{
    return gfx::RunLoop::IsBound() && gfx::RunLoop::MayRun() && gfx::RunLoop::GetBackend() &&
           !gfx::Surface::All().empty();
}

class ToolkitAlerts : public MessageSink
{
    static std::optional<bool> Responded(char const* text, char const* caption)
    {
        if (!gfx::RunLoop::IsBound() || !gfx::RunLoop::MayRun()) return std::nullopt;
        std::optional<bool> answer = Responders::TakeAlert();
        if (answer) Responders::AnsweredAlerts().push_back(std::string(caption) + ": " + text);
        return answer;
    }

public:
    void Show(char const* text, char const* caption) override
    {
        if (Responded(text, caption)) return;
        if (!CanShowAlerts())
        {
            std::fprintf(stderr, "[message] %s: %s\n", caption, text);
            return;
        }
        AlertFrame alert(text, caption, false);
        alert.Run();
    }

    bool AskYesNo(char const* text, char const* caption) override
    {
        if (auto answer = Responded(text, caption)) return *answer;
        if (!CanShowAlerts())
        {
            std::fprintf(stderr, "[question, answered No] %s: %s\n", caption, text);
            return false;
        }
        AlertFrame alert(text, caption, true);
        return alert.Run() == 1;
    }
};
} // namespace

void MessagePopup(GRectangle const& r, char const* title)
{
    char text[128];
    std::snprintf(text, sizeof text, "X: %i\t\tY: %i\nWidth: %i\tHeight: %i", static_cast<int>(r.x),
                  static_cast<int>(r.y), static_cast<int>(r.width), static_cast<int>(r.height));
    MessagePopup(text, title);
}

void InstallToolkitAlerts()
{
    SetMessageSink(std::make_shared<ToolkitAlerts>());
}

std::vector<std::string> WrapText(char const* text, double size, double width)
{
    std::vector<std::string> lines;
    std::string all = gfx::ToDisplayText(text ? text : "");
    for (char& c : all)
        if (c == '\t') c = ' ';
    std::size_t start = 0;
    while (start <= all.size())
    {
        std::size_t end = all.find('\n', start);
        if (end == std::string::npos) end = all.size();
        std::string paragraph = all.substr(start, end - start);
        std::string line;
        std::size_t at = 0;
        while (at < paragraph.size())
        {
            std::size_t space = paragraph.find(' ', at);
            std::string word =
                paragraph.substr(at, space == std::string::npos ? std::string::npos : space - at + 1);
            at = space == std::string::npos ? paragraph.size() : space + 1;
            if (gfx::TextAdvance((line + word).c_str(), size) <= width || line.empty())
                line += word;
            else
            {
                lines.push_back(line);
                line = word;
            }
            // A word wider than the line is cut by characters.
            while (gfx::TextAdvance(line.c_str(), size) > width && line.size() > 1)
            {
                std::size_t cut = line.size() - 1;
                while (cut > 1 && gfx::TextAdvance(line.substr(0, cut).c_str(), size) > width)
                    --cut;
                while (cut > 1 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
                    --cut;
                lines.push_back(line.substr(0, cut));
                line = line.substr(cut);
            }
        }
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}
