"""Async programs driven from Python: as generators, to completion, cancelled, and from
asyncio."""
import asyncio
import gc

import pytest

import quarn


def answer(program):
    Op = program.types.Op

    def reply(operation):
        if isinstance(operation, Op.ask):
            return "Ada"
        if isinstance(operation, Op.add):
            return operation.a + operation.b
        raise AssertionError(operation)
    return reply


def test_a_program_driven_step_by_step(program, runtime):
    Op = program.types.Op
    before = runtime.outstanding_resumptions()
    run = program.conversation(5)
    assert next(run) == Op.ask(question="What is your name?")
    assert runtime.outstanding_resumptions() == before + 1
    assert run.send("Ada") == Op.add(a=5, b=10)
    with pytest.raises(StopIteration) as done:
        run.send(15)
    assert done.value.value == "Ada has 15"
    assert runtime.outstanding_resumptions() == before
    assert program.conversation(2**40).run(answer(program)) == f"Ada has {2**40 + 10}"
    # A big Nat crosses both ways (the stand-in prints such sums without their digits).
    assert program.conversation(2**70).run(answer(program)) == "Ada has a big number"


def test_closing_or_dropping_a_waiting_program_cancels_it(program, runtime):
    before = runtime.outstanding_resumptions()
    run = program.conversation(1)
    next(run)
    run.close()
    assert runtime.outstanding_resumptions() == before
    run = program.conversation(1)
    next(run)
    del run
    gc.collect()
    assert runtime.outstanding_resumptions() == before


def test_an_answer_of_the_wrong_type_ends_the_program(program, runtime):
    before = runtime.outstanding_resumptions()
    run = program.conversation(1)
    next(run)
    with pytest.raises(TypeError, match="String expects a str"):
        run.send(5)
    assert runtime.outstanding_resumptions() == before
    with pytest.raises(StopIteration):
        next(run)


def test_a_resumption_cancelled_behind_its_back_is_not_live(program, runtime):
    run = program.conversation(1)
    next(run)
    resumption = run.resumption
    assert runtime.library.async_cancel(resumption) == quarn.OK
    with pytest.raises(quarn.QuarnNotLive) as raised:
        run.send("Ada")
    assert raised.value.message == (
        f"{resumption} is not a live resumption: it was resumed or cancelled already")
    assert raised.value.status == quarn.NOT_LIVE


def test_asyncio_awaits_the_answers(program, runtime):
    reply = answer(program)

    async def slow(operation):
        await asyncio.sleep(0)
        return reply(operation)

    assert asyncio.run(program.conversation(7).run_async(slow)) == "Ada has 17"
    assert asyncio.run(program.conversation(7).run_async(reply)) == "Ada has 17"

    before = runtime.outstanding_resumptions()

    async def cancelled():
        never = asyncio.Event()

        async def wait(operation):
            await never.wait()

        task = asyncio.ensure_future(program.conversation(1).run_async(wait))
        await asyncio.sleep(0.01)
        assert runtime.outstanding_resumptions() == before + 1
        task.cancel()
        with pytest.raises(asyncio.CancelledError):
            await task

    asyncio.run(cancelled())
    assert runtime.outstanding_resumptions() == before


def test_functions_as_answers(program, runtime):
    Op = program.types.Op
    host = runtime.host
    before = host.live_functions()
    run = program.apply_answer(4)
    assert next(run) == Op.call(n=4)
    with pytest.raises(StopIteration) as done:
        run.send(lambda n: n * 3)
    assert done.value.value == 12
    # Lean dropped its closure: the callable is gone from the registry.
    assert host.live_functions() == before

    adder = program.make_adder(1)
    assert program.apply_answer(4).run(lambda op: adder) == 5
    assert adder(1) == 2   # the answer took its own handle
