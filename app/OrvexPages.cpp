#include "OrvexPages.h"

#include "cards/ReductionWidget.h"
#include "dataservice/DataService.h"
#include "pages/CollectAssistant.h"
#include "pages/ConfigTesUi.h"
#include "pages/DeviceInfo.h"
#include "pages/UpdataUi.h"
#include "pos/DownloadData.h"
#include "shell/Orvex.h"
#include "shell/TitleBar.h"
#include "tools/ModifyWidget.h"

void installOrvexPages()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    Orvex::instance()->setPages({DeviceInfo::instance(), new ConfigTesUi, new CollectAssistant,
                                 DownloadData::instance(), DataService::instance(),
                                 ReductionWidget::instance(), new ModifyWidget});
    QObject::connect(Orvex::instance()->titleBar(), &TitleBar::versionRequested, Orvex::instance(),
                     [] { UpdataUi::open(Orvex::instance()); });
}
