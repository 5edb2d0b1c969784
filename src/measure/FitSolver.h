#pragma once
// What the PSF fit and the template fit share of their least-squares
// solving: a small dense problem, solved frame after frame on one thread.
// Only the measuring layer's sources include it (the solver is its own).
#include <Eigen/Dense>
#include <ceres/ceres.h>

namespace corvane {

inline ceres::Solver::Options smallFitOptions(int maxIterations) {
    ceres::Solver::Options options;
    options.linear_solver_type = ceres::DENSE_NORMAL_CHOLESKY;
    options.max_num_iterations = maxIterations;
    options.num_threads = 1;
    options.logging_type = ceres::SILENT;
    options.minimizer_progress_to_stdout = false;
    // A ten-millionth of the parameters (a millionth of a pixel on a
    // centre or an offset) is far below any frame's noise.
    options.function_tolerance = 1e-7;
    options.parameter_tolerance = 1e-7;
    return options;
}

// The most parameters either fit has; their small matrices live on the stack.
inline constexpr int kMaxFitParams = 10;
using FitMatrix =
    Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, 0, kMaxFitParams, kMaxFitParams>;
using FitVector = Eigen::Matrix<double, Eigen::Dynamic, 1, 0, kMaxFitParams, 1>;

// The inverse of a fit's normal matrix J^T J (J the weighted Jacobian), the
// parameters' covariance for unit weights; false when the fit does not fix
// every parameter (the matrix is not positive definite).
inline bool invertNormal(const FitMatrix& normal, FitMatrix& inverse) {
    const Eigen::LDLT<FitMatrix> ldlt(normal);
    if (ldlt.info() != Eigen::Success || !ldlt.isPositive())
        return false;
    inverse = ldlt.solve(FitMatrix::Identity(normal.rows(), normal.cols()));
    return true;
}

} // namespace corvane
