// The publication each method follows, as its documentation cites it. A switch without a default, so a method
// added to the catalogue does not compile until its source is named here.
#pragma once

#include <string_view>

#include "method_id.hpp"

namespace quorvel::catalogue {

constexpr std::string_view reference(MethodId id) {
    switch (id) {
        case MethodId::Asls: return "Eilers & Boelens, Leiden University Medical Centre report (2005)";
        case MethodId::ArPls: return "Baek et al., Analyst 140 (2015) 250";
        case MethodId::AirPls: return "Zhang, Chen & Liang, Analyst 135 (2010) 1138";
        case MethodId::RollingBall: return "Kneen & Annegarn, Nucl. Instrum. Methods B 109/110 (1996) 209";
        case MethodId::Polynomial:
        case MethodId::Poly: return "the least-squares polynomial";
        case MethodId::Tophat: return "Perez-Pueyo et al., Appl. Spectrosc. 64 (2010) 595";
        case MethodId::Iasls: return "He et al., Anal. Methods 6 (2014) 4402";
        case MethodId::DrPls: return "Xu et al., Appl. Optics 58 (2019) 3913";
        case MethodId::IarPls: return "Ye et al., Appl. Optics 59 (2020) 10933";
        case MethodId::AsPls: return "Zhang et al., Spectrosc. Lett. 53 (2020) 222";
        case MethodId::Psalsa: return "Oller-Moreno et al., IEEE Sensing and Diagnostics (SSD) 2014";
        case MethodId::DerPsalsa: return "Korepanov, J. Raman Spectrosc. 51 (2020) 2061";
        case MethodId::BrPls: return "Wang et al., Nucl. Sci. Tech. 33 (2022), doi 10.1007/s41365-022-01132-9";
        case MethodId::LsrPls: return "Heng et al., Chinese J. Lasers 45 (2018) 1211001";
        case MethodId::Snip: return "Ryan et al., Nucl. Instrum. Methods B 34 (1988) 396; Morhac & Matousek, "
                                    "Appl. Spectrosc. 62 (2008) 91";
        case MethodId::Rubberband: return "the lower convex hull, Andrew, Inf. Process. Lett. 9 (1979) 216";
        case MethodId::Mor: return "Perez-Pueyo et al., Appl. Spectrosc. 64 (2010) 595";
        case MethodId::Imor: return "Dai et al., Appl. Spectrosc. 72 (2018) 731";
        case MethodId::Amormol: return "Chen et al., Appl. Spectrosc. 73 (2019) 284";
        case MethodId::Mormol: return "Koch et al., J. Raman Spectrosc. 48 (2017) 336";
        case MethodId::NoiseMedian: return "Friedrichs, J. Biomol. NMR 5 (1995) 147";
        case MethodId::Modpoly: return "Lieber & Mahadevan-Jansen, Appl. Spectrosc. 57 (2003) 1363";
        case MethodId::Imodpoly: return "Zhao et al., Appl. Spectrosc. 61 (2007) 1225";
        case MethodId::PenalizedPoly: return "Mazet et al., Chemom. Intell. Lab. Syst. 76 (2005) 121";
        case MethodId::QuantReg: return "Komsta, Chromatographia 73 (2011) 721";
        case MethodId::Loess: return "Cleveland, J. Am. Stat. Assoc. 74 (1979) 829";
        case MethodId::PeakFilling: return "Liland, MethodsX 2 (2015) 135";
        case MethodId::CornerCutting: return "Liu et al., Analyst 140 (2015) 7984";
        case MethodId::Mwmv: return "Yaroshchyk & Eberhardt, Spectrochim. Acta B 99 (2014) 138";
        case MethodId::InterpPts: return "lines or a spline through the caller's points";
        case MethodId::Mpls: return "Li et al., Analyst 138 (2013) 4483";
        case MethodId::Jbcd: return "Liu et al., Appl. Spectrosc. 69 (2015) 1013";
        case MethodId::Ipsa: return "Wang et al., Appl. Spectrosc. 71 (2017) 1169";
        case MethodId::Ria: return "Krishna et al., J. Raman Spectrosc. 43 (2012) 1884";
        case MethodId::PsplineAsls:
        case MethodId::PsplineArPls:
        case MethodId::PsplineAirPls:
        case MethodId::PsplineIarPls:
        case MethodId::PsplinePsalsa:
        case MethodId::PsplineLsrPls:
        case MethodId::PsplineBrPls:
        case MethodId::PsplineIasls:
            return "Eilers & Marx, Statist. Sci. 11 (1996) 89, with the rule of its name; on grids by the array "
                   "arithmetic of Eilers, Currie & Durbán, Comput. Stat. Data Anal. 50 (2006) 61";
        case MethodId::PsplineDerPsalsa:
        case MethodId::PsplineDrPls:
        case MethodId::PsplineAsPls:
        case MethodId::PsplineMpls: return "Eilers & Marx, Statist. Sci. 11 (1996) 89, with the rule of its name";
        case MethodId::Goldindec: return "Liu et al., Appl. Spectrosc. 69 (2015) 834";
        case MethodId::Swima: return "Schulze et al., Appl. Spectrosc. 66 (2012) 757";
        case MethodId::MixtureModel:
            return "de Rooi & Eilers, Chemom. Intell. Lab. Syst. 117 (2012) 56; on grids the spline by the array "
                   "arithmetic of Eilers, Currie & Durbán, Comput. Stat. Data Anal. 50 (2006) 61";
        case MethodId::Irsqr:
            return "Han et al., ICISCE 2018, 280; on grids the spline by the array arithmetic of Eilers, Currie & "
                   "Durbán, Comput. Stat. Data Anal. 50 (2006) 61";
    }
    return {};
}

}  // namespace quorvel::catalogue
