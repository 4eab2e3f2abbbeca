"""Figures of a fit for a report: observed points, fitted curves, residuals
(btcfit.FitResult.plot)."""

import numpy as np

from ._problem import DataForm, Model

DESCRIPTIONS = {
    Model.equilibrium_resident: "equilibrium model, resident concentration",
    Model.equilibrium_flux: "equilibrium model, flux concentration",
    Model.nonequilibrium_resident: "two-site nonequilibrium model, resident concentration",
    Model.nonequilibrium_flux: "two-site nonequilibrium model, flux concentration",
    Model.stream_tube_pulse_resident: "stream-tube model, pulse input, resident concentration",
    Model.stream_tube_pulse_flux: "stream-tube model, pulse input, flux concentration",
    Model.stream_tube_load_resident: "stream-tube model, solute load, resident concentration",
    Model.stream_tube_load_flux: "stream-tube model, solute load, flux concentration",
}

# The units of each coefficient by its model name, from the length unit L
# and the time unit T; None: dimensionless or not expressible in L and T.
UNITS = {"V": "{L}/{T}", "D": "{L}²/{T}", "ALPHA": "{L}", "T0": "{T}", "MU": "1/{T}"}


def _units(units):
    if units is None:
        return None, None, None
    units = tuple(units)
    if len(units) not in (2, 3) or not all(isinstance(u, str) for u in units):
        raise ValueError("units is (length unit, time unit) or (length, time, concentration), "
                         f"not {units!r}")
    return units if len(units) == 3 else units + (None,)


def _with_unit(quantity, unit):
    return f"{quantity} ({unit})" if unit else quantity


def _coefficient_text(result, length, time):
    from ._problem import coefficient_names
    model_names = coefficient_names(result.problem.model)
    parts = []
    for k, (name, varied) in enumerate(zip(result.names, result.varied)):
        if not varied:
            continue
        unit = UNITS.get(model_names[k])
        value = f"{name or model_names[k]} = {result.coefficients[k]:.4g}"
        if unit and length and time:
            value += " " + unit.format(L=length, T=time)
        parts.append(value)
    return ", ".join(parts)


def plot(result, ax=None, points=200, units=None, residuals=True, title=None, figure=None):
    try:
        from matplotlib.figure import Figure
        from matplotlib.legend_handler import HandlerTuple
        from matplotlib.lines import Line2D
    except ImportError:
        raise ImportError(
            "btcfit.FitResult.plot needs matplotlib: install it with "
            "'apt install python3-matplotlib' or 'pip install matplotlib'") from None
    from ._fit import evaluate
    length, time_unit, concentration_unit = _units(units)
    problem = result.problem
    if ax is None:
        if figure is None:
            figure = Figure(figsize=(7.5, 6.0 if residuals else 4.8), layout="constrained")
        if residuals:
            ax, rax = figure.subplots(2, 1, sharex=True, gridspec_kw={"height_ratios": [3, 1]})
        else:
            ax, rax = figure.add_subplot(), None
    else:
        figure, rax = ax.figure, None

    x, t, c = problem.distance, problem.time, problem.concentration
    # Breakthrough curves (one per distance) unless the observations form
    # depth profiles: more distinct distances than times.
    profiles = len(np.unique(x)) > len(np.unique(t))
    groups, along = (np.unique(t), x) if profiles else (np.unique(x), t)
    start = min(0.0, float(np.min(along))) if len(along) else 0.0
    end = float(np.max(along)) * 1.05 if len(along) else 1.0
    grid = np.linspace(start, end, points)
    if not profiles and grid[0] <= 0.0:
        grid[0] = end / points / 10  # no time 0 on a breakthrough curve
    reduced_time = problem.data_form == DataForm.reduced_concentration_and_time
    residual = problem.concentration - result.calculated

    handles, labels = [], []
    for j, g in enumerate(groups):
        color = f"C{j % 10}"
        mine = (t if profiles else x) == g
        if profiles:
            curve = evaluate(problem, result.coefficients, distance=grid, time=g,
                             numerics=result.numerics)
            label = f"t = {g:g}" + (f" {time_unit}" if time_unit and not reduced_time else "")
        else:
            curve = evaluate(problem, result.coefficients, distance=g, time=grid,
                             numerics=result.numerics)
            label = f"x = {g:g}" + (f" {length}" if length else "")
        line, = ax.plot(grid, curve, "-", color=color, linewidth=1.6, zorder=2)
        dots, = ax.plot(along[mine], c[mine], "o", color=color, markerfacecolor="white",
                        markeredgewidth=1.3, markersize=5.5, linestyle="none", zorder=3)
        handles.append((dots, line))
        labels.append(label)
        if rax is not None:
            rax.plot(along[mine], residual[mine], "o", color=color, markerfacecolor="white",
                     markeredgewidth=1.3, markersize=5, linestyle="none")
    # What the styles mean, once.
    handles += [Line2D([], [], color="0.3", marker="o", markerfacecolor="white",
                       linestyle="none"),
                Line2D([], [], color="0.3", linewidth=1.6)]
    labels += ["observed", f"fitted ({result.method}, {result.numerics} numerics)"]
    ax.legend(handles, labels, handler_map={tuple: HandlerTuple(ndivide=None)},
              fontsize="small", framealpha=0.9)

    reduced = problem.data_form != DataForm.measured
    y_label = ("reduced concentration $(C - C_i)/(C_0 - C_i)$" if reduced
               else _with_unit("concentration C", concentration_unit))
    if profiles:
        x_label = _with_unit("distance x", length)
    elif reduced_time:
        x_label = "reduced time (pore volumes) v t / L"
    else:
        x_label = _with_unit("time t", time_unit)
    ax.set_ylabel(y_label)
    ax.grid(True, color="0.9", linewidth=0.8)
    ax.set_axisbelow(True)
    if rax is not None:
        rax.axhline(0.0, color="0.4", linewidth=0.9)
        rax.set_ylabel("residual\nobserved − fitted")
        rax.set_xlabel(x_label)
        rax.grid(True, color="0.9", linewidth=0.8)
        rax.set_axisbelow(True)
        bound = float(np.max(np.abs(residual))) * 1.25 if len(residual) else 1.0
        rax.set_ylim(-bound or -1.0, bound or 1.0)
    else:
        ax.set_xlabel(x_label)
    ax.set_xlim(grid[0] if profiles else 0.0, end)
    if title is None:
        fitted = _coefficient_text(result, length, None if reduced_time else time_unit)
        title = (f"{DESCRIPTIONS[problem.model]} (model {int(problem.model)})\n"
                 f"{fitted}; SSQ = {result.ssq:.4g}")
    ax.set_title(title, fontsize="medium")
    return figure
