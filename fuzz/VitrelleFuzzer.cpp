// A vitrelle file from the content server: loaded from the cache folder (with a nested vitrelle file beside
// it that it may name), then walked the way a player walks it, through its sequence when it has one.
#include "FuzzSupport.h"

#include "ContentRandom.h"
#include "DiapositiveType.h"
#include "Enumerators.h"
#include "Sequence.h"
#include "Vitrelle.h"
#include "XmlDocument.h"

namespace {

const QByteArray Types = "<DiapositiveTypes>"
                         "<DiapositiveType><Name>Announcement</Name></DiapositiveType>"
                         "<DiapositiveType><Name>Photo</Name><MediaMark>image</MediaMark>"
                         "<MediaDir>media</MediaDir></DiapositiveType>"
                         "</DiapositiveTypes>";

const QByteArray Inner =
    "<Vitrelle name=\"Inner\"><Diapositive id=\"i0\" type=\"Photo\"><image id=\"a.png\"/>"
    "</Diapositive><Diapositive id=\"i1\" type=\"Announcement\"/>"
    "<Sequence duration=\"500\"><playDiapositive type=\"Photo\" nbDiapositive=\"2\"/>"
    "</Sequence></Vitrelle>";

constexpr int WalkSteps = 64;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInitialize();
    const QString templates = FuzzFolder() + QStringLiteral("/Templates");
    const QString cache = FuzzFolder() + QStringLiteral("/Cache");
    TDiapositiveType::SetTemplateFolder(templates);
    SetXmlReadableFolders({templates, cache});
    TDiapositiveType::LoadTypes(FuzzWriteFile(QStringLiteral("Templates/Types.xml"), Types));
    FuzzWriteFile(QStringLiteral("Cache/inner.xml"), Inner);
    // The same choices for the same input.
    int draws = 0;
    SetRandomSource([&draws](int bound) { return draws++ % bound; });
    const QString path =
        FuzzWriteFile(QStringLiteral("Cache/v.xml"),
                      QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    {
        auto vitrelle = std::make_shared<TVitrelle>(QStringLiteral("listed"), -1);
        if (vitrelle->LoadFromFile(path)) {
            const std::vector<TDiapositive*> all = vitrelle->AllDiapositives();
            (void)vitrelle->UsedTypes();
            (void)vitrelle->FindNested(QStringLiteral("Inner"));
            TVitrelleSequenceItem wrapper;
            wrapper.Count = 1;
            auto* walk = static_cast<TVitrelleEnumerator*>(wrapper.GetEnumerator(vitrelle.get()));
            for (int step = 0; step < WalkSteps; ++step) {
                walk->MoveNext();
                if (const TDiapositive* slide = walk->GetCurrent())
                    FUZZ_CHECK(std::find(all.begin(), all.end(), slide) != all.end(),
                               QStringLiteral("the walk gave slide %1, which the vitrelle does not hold")
                                   .arg(slide->Id));
                (void)walk->Duration();
            }
            // A reload in place while a walk is under way, as an update does.
            vitrelle->LoadFromFile(path);
            for (int step = 0; step < WalkSteps; ++step) {
                walk->MoveNext();
                (void)walk->GetCurrent();
            }
        }
    }
    FuzzResetGlobalState();
    return 0;
}
