#include "Physics.h"

#include <array>
#include <cmath>
#include <span>

namespace kv {

namespace {

constexpr double kA = 3.9083e-3;
constexpr double kB = -5.775e-7;
constexpr double kC = -4.183e-12;

// One piece of an ITS-90 reference function: valid from `from` upwards,
// coefficients c0, c1, ... in mV and °C.
struct TPiece {
    double from;
    std::span<const double> c;
};

double Poly(std::span<const double> c, double t) {
    double e = 0.0;
    for (std::size_t i = c.size(); i-- > 0;)
        e = e * t + c[i];
    return e;
}

// ITS-90 reference function coefficients, lowest power first.
constexpr double kB1[] = {0.0, -0.246508183460e-03, 0.590404211710e-05, -0.132579316360e-08,
                          0.156682919010e-11, -0.169445292400e-14, 0.629903470940e-18};
constexpr double kB2[] = {-0.389381686210e+01, 0.285717474700e-01, -0.848851047850e-04,
                          0.157852801640e-06,  -0.168353448640e-09, 0.111097940130e-12,
                          -0.445154310330e-16, 0.989756408210e-20,  -0.937913302890e-24};
constexpr double kE1[] = {0.0, 0.586655087080e-01, 0.454109771240e-04, -0.779980486860e-06,
                          -0.258001608430e-07, -0.594525830570e-09, -0.932140586670e-11,
                          -0.102876055340e-12, -0.803701236210e-15, -0.439794973910e-17,
                          -0.164147763550e-19, -0.396736195160e-22, -0.558273287210e-25,
                          -0.346578420130e-28};
constexpr double kE2[] = {0.0, 0.586655087100e-01, 0.450322755820e-04, 0.289084072120e-07,
                          -0.330568966520e-09, 0.650244032700e-12, -0.191974955040e-15,
                          -0.125366004970e-17, 0.214892175690e-20, -0.143880417820e-23,
                          0.359608994810e-27};
constexpr double kJ1[] = {0.0, 0.503811878150e-01, 0.304758369300e-04, -0.856810657200e-07,
                          0.132281952950e-09, -0.170529583370e-12, 0.209480906970e-15,
                          -0.125383953360e-18, 0.156317256970e-22};
constexpr double kJ2[] = {0.296456256810e+03, -0.149761277860e+01, 0.317871039240e-02,
                          -0.318476867010e-05, 0.157208190040e-08, -0.306913690560e-12};
constexpr double kK1[] = {0.0, 0.394501280250e-01, 0.236223735980e-04, -0.328589067840e-06,
                          -0.499048287770e-08, -0.675090591730e-10, -0.574103274280e-12,
                          -0.310888728940e-14, -0.104516093650e-16, -0.198892668780e-19,
                          -0.163226974860e-22};
constexpr double kK2[] = {-0.176004136860e-01, 0.389212049750e-01, 0.185587700320e-04,
                          -0.994575928740e-07, 0.318409457190e-09,  -0.560728448890e-12,
                          0.560750590590e-15,  -0.320207200030e-18, 0.971511471520e-22,
                          -0.121047212750e-25};
constexpr double kN1[] = {0.0, 0.261591059620e-01, 0.109574842280e-04, -0.938411115540e-07,
                          -0.464120397590e-10, -0.263033577160e-11, -0.226534380030e-13,
                          -0.760893007910e-16, -0.934196678350e-19};
constexpr double kN2[] = {0.0, 0.259293946010e-01, 0.157101418800e-04, 0.438256272370e-07,
                          -0.252611697940e-09, 0.643118193390e-12, -0.100634715190e-14,
                          0.997453389920e-18, -0.608632456070e-21, 0.208492293390e-24,
                          -0.306821961510e-28};
constexpr double kR1[] = {0.0, 0.528961729765e-02, 0.139166589782e-04, -0.238855693017e-07,
                          0.356916001063e-10, -0.462347666298e-13, 0.500777441034e-16,
                          -0.373105886191e-19, 0.157716482367e-22, -0.281038625251e-26};
constexpr double kR2[] = {0.295157925316e+01, -0.252061251332e-02, 0.159564501865e-04,
                          -0.764085947576e-08, 0.205305291024e-11, -0.293359668173e-15};
constexpr double kR3[] = {0.152232118209e+03, -0.268819888545e+00, 0.171280280471e-03,
                          -0.345895706453e-07, -0.934633971046e-14};
constexpr double kS1[] = {0.0, 0.540313308631e-02, 0.125934289740e-04, -0.232477968689e-07,
                          0.322028823036e-10, -0.331465196389e-13, 0.255744251786e-16,
                          -0.125068871393e-19, 0.271443176145e-23};
constexpr double kS2[] = {0.132900444085e+01, 0.334509311344e-02, 0.654805192818e-05,
                          -0.164856259209e-08, 0.129989605174e-13};
constexpr double kS3[] = {0.146628232636e+03, -0.258430516752e+00, 0.163693574641e-03,
                          -0.330439046987e-07, -0.943223690612e-14};
constexpr double kT1[] = {0.0, 0.387481063640e-01, 0.441944343470e-04, 0.118443231050e-06,
                          0.200329735540e-07, 0.901380195590e-09, 0.226511565930e-10,
                          0.360711542050e-12, 0.384939398830e-14, 0.282135219250e-16,
                          0.142515947790e-18, 0.487686622860e-21, 0.107955392700e-23,
                          0.139450270620e-26, 0.797951539270e-30};
constexpr double kT2[] = {0.0, 0.387481063640e-01, 0.332922278800e-04, 0.206182434040e-06,
                          -0.218822568460e-08, 0.109968809280e-10, -0.308157587720e-13,
                          0.454791352900e-16, -0.275129016730e-19};

// DIN 43710 table points every 100 °C from -200 °C.
constexpr double kL[] = {-8.15, -4.75, 0.0, 5.37, 10.95, 16.56, 22.16, 27.85, 33.67, 39.72, 46.22, 53.14};
constexpr double kU[] = {-5.70, -3.40, 0.0, 4.25, 9.20, 14.90, 21.00, 27.41, 34.31};

// Catmull-Rom spline through the 100 °C points: smooth, and exact at them.
double DinEmf(std::span<const double> p, double t) {
    const double x = (t + 200.0) / 100.0;
    const int n = static_cast<int>(p.size());
    int i = static_cast<int>(std::floor(x));
    if (i < 0)
        i = 0;
    if (i > n - 2)
        i = n - 2;
    const double u = x - i;
    auto at = [&](int k) {
        if (k < 0)
            return 2 * p[0] - p[1];
        if (k >= n)
            return 2 * p[n - 1] - p[n - 2];
        return p[k];
    };
    const double p0 = at(i - 1), p1 = at(i), p2 = at(i + 1), p3 = at(i + 2);
    return 0.5 * (2 * p1 + (-p0 + p2) * u + (2 * p0 - 5 * p1 + 4 * p2 - p3) * u * u +
                  (-p0 + 3 * p1 - 3 * p2 + p3) * u * u * u);
}

double PieceEmf(std::span<const TPiece> pieces, double t) {
    std::size_t k = 0;
    while (k + 1 < pieces.size() && t >= pieces[k + 1].from)
        ++k;
    return Poly(pieces[k].c, t);
}

constexpr TPiece kPiecesB[] = {{0.0, kB1}, {630.615, kB2}};
constexpr TPiece kPiecesE[] = {{-270.0, kE1}, {0.0, kE2}};
constexpr TPiece kPiecesJ[] = {{-210.0, kJ1}, {760.0, kJ2}};
constexpr TPiece kPiecesN[] = {{-270.0, kN1}, {0.0, kN2}};
constexpr TPiece kPiecesR[] = {{-50.0, kR1}, {1064.18, kR2}, {1664.5, kR3}};
constexpr TPiece kPiecesS[] = {{-50.0, kS1}, {1064.18, kS2}, {1664.5, kS3}};
constexpr TPiece kPiecesT[] = {{-270.0, kT1}, {0.0, kT2}};

} // namespace

double PtResistance(double r0, double t) {
    double f = 1.0 + kA * t + kB * t * t;
    if (t < 0.0)
        f += kC * (t - 100.0) * t * t * t;
    return r0 * f;
}

double PtSlope(double r0, double t) {
    double d = kA + 2.0 * kB * t;
    if (t < 0.0)
        d += kC * (4.0 * t * t * t - 300.0 * t * t);
    return r0 * d;
}

bool PtTemperature(double r0, double ohm, double& celsius) {
    if (!(r0 > 0.0) || !std::isfinite(ohm))
        return false;
    if (ohm < PtResistance(r0, kPtRange.Low) || ohm > PtResistance(r0, kPtRange.High))
        return false;
    const double q = ohm / r0;
    // The quadratic part is exact from 0 °C up and a close start below it.
    double t = (-kA + std::sqrt(kA * kA - 4.0 * kB * (1.0 - q))) / (2.0 * kB);
    if (t < 0.0) {
        for (int i = 0; i < 20; ++i) {
            const double f = PtResistance(r0, t) / r0 - q;
            const double step = f / (PtSlope(r0, t) / r0);
            t -= step;
            if (std::fabs(step) < 1e-9)
                break;
        }
    }
    celsius = t;
    return true;
}

TTemperatureRange ThermocoupleRange(TThermocouple type) {
    switch (type) {
    case tcB: return {50.0, 1820.0}; // below 50 °C the type B EMF is not monotonic
    case tcE: return {-270.0, 1000.0};
    case tcJ: return {-210.0, 1200.0};
    case tcK: return {-270.0, 1372.0};
    case tcL: return {-200.0, 900.0};
    case tcN: return {-270.0, 1300.0};
    case tcR: return {-50.0, 1768.1};
    case tcS: return {-50.0, 1768.1};
    case tcT: return {-270.0, 400.0};
    case tcU: return {-200.0, 600.0};
    default: return {0.0, 0.0};
    }
}

double ThermocoupleEmf(TThermocouple type, double t) {
    switch (type) {
    case tcB: return PieceEmf(kPiecesB, t);
    case tcE: return PieceEmf(kPiecesE, t);
    case tcJ: return PieceEmf(kPiecesJ, t);
    case tcK:
        if (t < 0.0)
            return Poly(kK1, t);
        return Poly(kK2, t) + 0.118597600000e+00 * std::exp(-0.118343200000e-03 * (t - 126.9686) * (t - 126.9686));
    case tcL: return DinEmf(kL, t);
    case tcN: return PieceEmf(kPiecesN, t);
    case tcR: return PieceEmf(kPiecesR, t);
    case tcS: return PieceEmf(kPiecesS, t);
    case tcT: return PieceEmf(kPiecesT, t);
    case tcU: return DinEmf(kU, t);
    default: return 0.0;
    }
}

bool ThermocoupleTemperature(TThermocouple type, double mv, double& celsius) {
    if (type >= tcCount || !std::isfinite(mv))
        return false;
    const TTemperatureRange r = ThermocoupleRange(type);
    double lo = r.Low, hi = r.High;
    // A hair of slack at the ends: the polynomials are not monotonic in their
    // last bits.
    constexpr double kSlack = 1e-9;
    if (mv < ThermocoupleEmf(type, lo) - kSlack || mv > ThermocoupleEmf(type, hi) + kSlack)
        return false;
    // Every function is monotonic over its range: bisection converges to
    // well below a millikelvin.
    for (int i = 0; i < 60; ++i) {
        const double mid = 0.5 * (lo + hi);
        if (ThermocoupleEmf(type, mid) < mv)
            lo = mid;
        else
            hi = mid;
    }
    celsius = 0.5 * (lo + hi);
    return true;
}

double ThermocoupleSeebeck(TThermocouple type, double t) {
    // A central difference: the functions are smooth polynomials (splines
    // for L and U), so over 0.01 °C it is exact to far below a microvolt
    // per kelvin.
    constexpr double h = 0.005;
    return (ThermocoupleEmf(type, t + h) - ThermocoupleEmf(type, t - h)) / (2.0 * h);
}

char ThermocoupleLetter(TThermocouple type) { return type < tcCount ? "BEJKLNRSTU"[type] : '?'; }

} // namespace kv
