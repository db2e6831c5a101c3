// Estimation library: small fixed-size vectors and parameter estimators.
//
// Plain value types without shared state: any thread may use its own
// objects without locking; one object must not be used by two threads at once.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

// CMake defines orvex_estimation_EXPORTS while it builds this library's DLL.
#if defined(_WIN32) && defined(orvex_estimation_EXPORTS)
#define ORVEX_ESTIMATION_API __declspec(dllexport)
#elif defined(_WIN32)
#define ORVEX_ESTIMATION_API __declspec(dllimport)
#else
#define ORVEX_ESTIMATION_API __attribute__((visibility("default")))
#endif

// A vector whose size is chosen once, at construction. Every access is
// checked: an index outside 0..size()-1 throws std::out_of_range rather than
// reading or writing past the storage.
template <typename T> class TVector {
public:
    using InitValueType = T;

    // Throws std::invalid_argument for a negative size.
    TVector(int size, InitValueType init) : _values(checkedSize(size), init) {}
    TVector(const TVector&) = default;
    TVector& operator=(const TVector&) = default;
    virtual ~TVector() = default;

    int size() const { return static_cast<int>(_values.size()); }

    T& operator[](int index) { return _values.at(checkedIndex(index)); }
    const T& operator[](int index) const { return _values.at(checkedIndex(index)); }

private:
    static std::size_t checkedSize(int size)
    {
        if (size < 0)
            throw std::invalid_argument("TVector: negative size " + std::to_string(size));
        return static_cast<std::size_t>(size);
    }

    std::size_t checkedIndex(int index) const
    {
        if (index < 0 || index >= size())
            throw std::out_of_range("TVector: index " + std::to_string(index) + " outside 0.." +
                                    std::to_string(size() - 1));
        return static_cast<std::size_t>(index);
    }

    std::vector<T> _values;
};

// The vector of doubles the estimators take points in and give parameters in.
class ORVEX_ESTIMATION_API Vector : public TVector<double> {
public:
    Vector(int size, InitValueType init);
    Vector(const Vector& other);
    Vector& operator=(const Vector& other);
    ~Vector() override;
};

// Base of the estimators: holds a copy of the data points and the parameters
// of the last fit.
class ORVEX_ESTIMATION_API Estimator {
public:
    virtual ~Estimator();

    // Copies the points; the caller keeps its own collection.
    virtual void setDataColl(const std::vector<Vector>& dataColl);

    // Fits the parameters to the points given last. Returns false when the
    // points do not determine them (too few, degenerate, not finite); the
    // parameters are then the estimator's fallback (see the estimator).
    bool estim();

    // The parameters of the last estim(), all zero before the first one.
    const Vector getEstimParams() const;

protected:
    explicit Estimator(int nbParams);
    Estimator(const Estimator&) = default;
    Estimator& operator=(const Estimator&) = default;

    // Writes the fitted parameters into params (sized nbParams, zeroed);
    // returns false when the points do not determine them, leaving in params
    // the fallback that estim() then reports.
    virtual bool computeParams(const std::vector<Vector>& dataColl, Vector& params) const = 0;

private:
    std::vector<Vector> _dataColl;
    Vector _params;
};

// Straight line through points (x, y) by total least squares: the line that
// minimises the sum of squared perpendicular distances, so x and y play
// symmetric roles and vertical lines are representable.
//
// Parameters: 0 is the angle theta of the line to the x axis, in radians, in
// (-pi/2, pi/2]; 1 is rho such that y * cos(theta) - x * sin(theta) = rho,
// that is y = x * tan(theta) + rho / cos(theta). The data are centred on
// their mean before the fit, so that abscissas in the billions with a spread
// of a few units in y keep their precision.
class ORVEX_ESTIMATION_API LineEstimator : public Estimator {
public:
    LineEstimator();
    ~LineEstimator() override;

    // Each point is a Vector of size 2: x at index 0, y at index 1. A point
    // of another size throws std::invalid_argument and keeps the previous data.
    void setDataColl(const std::vector<Vector>& dataColl) override;

protected:
    // Needs at least two distinct points. Without a preferred direction (a
    // single point, all points coinciding, equal spread in every direction)
    // it fails and reports the horizontal line through the centroid; with no
    // point or a non-finite coordinate it fails and reports zeros.
    bool computeParams(const std::vector<Vector>& dataColl, Vector& params) const override;
};
