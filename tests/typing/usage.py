"""Type-checked with mypy --strict: the public API as a typed caller uses it."""

from typing import List

import numpy as np
import numpy.typing as npt

import quorvel

y: npt.NDArray[np.float64] = np.linspace(0.0, 1.0, 100) ** 2
flat: npt.NDArray[np.float64] = quorvel.correct(y, "arpls")
background: npt.NDArray[np.float64] = quorvel.baseline(y)
grid: npt.NDArray[np.float64] = quorvel.baseline_2d(np.ones((8, 8)), method="polynomial")
stack: npt.NDArray[np.float64] = quorvel.correct_many(np.ones((4, 50)), "asls", axis=-1, workers=2)
images: npt.NDArray[np.float64] = quorvel.baseline_2d_many(np.ones((2, 8, 8)), axes=(1, 2))
names: List[str] = quorvel.methods() + quorvel.methods_2d()
positions: npt.NDArray[np.float64] = np.geomspace(400.0, 4000.0, 100)
on_x: npt.NDArray[np.float64] = quorvel.correct(y, "polynomial", x=positions, out=np.empty(100))
stack_on_x: npt.NDArray[np.float64] = quorvel.baseline_many(np.ones((4, 100)), "polynomial", x=positions)
report: quorvel.ManyResult = quorvel.fit_many(np.ones((4, 50)), "airpls", stop="residuals")
unconverged: int = int(np.count_nonzero(~report.converged))
