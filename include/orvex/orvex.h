// Everything a host program uses, in one include.
#pragma once

#include <orvex/win32.h>

#include <orvex/companions/CamGUID.h>
#include <orvex/companions/Error.h>
#include <orvex/companions/Estimation.h>
#include <orvex/companions/Image.h>
#include <orvex/companions/WinChrono.h>

#include <orvex/Export.h>
#include <orvex/Loggers.h>
#include <orvex/OrvexError.h>
#include <orvex/Tracer.h>
#include <orvex/Types.h>
#include <orvex/Version.h>

#include <orvex/DcamTables.h>
#include <orvex/IEEE1394Camera.h>
#include <orvex/IEEE1394VideoServer.h>
#include <orvex/ImageSample.h>
#include <orvex/ImagesBuffer.h>

#include <orvex/FlyCapCamera.h>
#include <orvex/FlyCapVideoServer.h>

#include <orvex/BCAMCamera.h>
#include <orvex/BCAMVideoServer.h>

#include <orvex/DriftEstimation.h>
#include <orvex/MultiSync.h>
#include <orvex/MultiSyncField.h>

#include <orvex/iidc/Registers.h>
